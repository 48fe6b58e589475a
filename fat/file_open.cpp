// Opening the one open file and seeking in it: the lookup of its entry, the
// start of what is known of its chain, and the cluster a seek lands in.
#include "diskio.h"
#include "fat_fs.h"
#include "fat_layout.h"
#include "transfer.h"

FRESULT find_named(FATFS* fs, const char* path) {
    fs->flag = 0; // no file stays open past this point, whatever follows
    if (fs->fs_type == FS_NONE) {
        return FR_NOT_ENABLED;
    }
    return follow_path(fs, &scratch_of(fs)->walk, path);
}

FRESULT pf_open(FATFS* fs, const char* path) {
    if (!fs) {
        return FR_NOT_ENABLED;
    }
    const uint8_t* const entry = scratch_of(fs)->found.entry;
    const FRESULT res = find_named(fs, path);
    if (res != FR_OK) {
        return res;
    }
    if (entry[0] == 0 || (entry[DIR_ATTR] & ATTR_DIR)) {
        return FR_NO_FILE; // the root or another directory
    }
    open_file(fs, get_clust(fs), ld_aligned_dword(entry + DIR_FILE_SIZE));
    return FR_OK;
}

void open_file(FATFS* fs, uint32_t first, uint32_t size) {
    fs->org_clust = first;
    fs->fsize = size;
    fs->fptr = 0;
    forget_chain(fs);
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
    // Where its entry is, for the size a growing file gets.
    const DIR* const walk = &scratch_of(fs)->walk;
    fs->dir_sect = walk->sect;
    fs->dir_index = static_cast<uint8_t>(walk->index % ENTRIES_PER_SECTOR);
#endif
    fs->flag = FLAG_OPEN;
}

void forget_chain(FATFS* fs) {
    fs->head_last = 0;
    fs->run_first = 0;
    fs->run_last = 0;
    fs->run_clust = fs->org_clust;
}

FRESULT pf_lseek(FATFS* fs, uint32_t ofs) {
    if (!fs) {
        return FR_NOT_ENABLED;
    }
    if (!(fs->flag & FLAG_OPEN)) {
        return FR_NOT_OPENED;
    }
    if (ofs > fs->fsize) {
        ofs = fs->fsize;
    }
    fs->fptr = ofs;
    if (ofs == 0) {
        return FR_OK; // curr_clust is not used at 0
    }
    // curr_clust holds byte ofs - 1, whose cluster is found from what is
    // known of the chain; dsect the sector of byte ofs, in the same cluster
    // whenever it is used (ofs inside a sector).
    if (!locate(fs, cluster_at(fs, (ofs - 1) / SECTOR_SIZE / fs->csize),
                (ofs / SECTOR_SIZE) & (fs->csize - 1u))) {
        fs->flag = 0;
        return FR_DISK_ERR;
    }
    return FR_OK;
}
