// Opening, reading and seeking the one open file.
#include "diskio.h"
#include "fat_layout.h"
#include "file_step.h"
#include "pff.h"

// A call of its own on the chip: folded into the entry point, its name and
// entry buffers would lie in main's frame under every command's deepest call.
__attribute__((noinline)) FRESULT pf_open(FATFS* fs, const char* path) {
    if (!fs) {
        return FR_NOT_ENABLED;
    }
    fs->flag = 0; // no file stays open past this point, whatever follows
    if (fs->fs_type == FS_NONE) {
        return FR_NOT_ENABLED;
    }
    uint8_t sp[12];
    uint8_t dir[DIR_ENTRY_SIZE];
    DIR dj;
    dj.fn = sp;
    const FRESULT res = follow_path(fs, &dj, dir, path);
    if (res != FR_OK) {
        return res;
    }
    if (dir[0] == 0 || (dir[DIR_ATTR] & ATTR_DIR)) {
        return FR_NO_FILE; // the root or another directory
    }
    fs->org_clust = get_clust(fs, dir);
    fs->fsize = ld_dword(dir + DIR_FILE_SIZE);
    fs->fptr = 0;
    fs->flag = FLAG_OPEN;
    return FR_OK;
}

FRESULT pf_read(FATFS* fs, void* buff, uint32_t btr, uint32_t* br) {
    return transfer(fs, static_cast<uint8_t*>(buff), btr, br, Transfer::Read);
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
    // Forward, or back within the cluster fptr stands in: on from that
    // cluster's head (at fptr 0 there is none: the head wraps to the top).
    // Otherwise from the file's start. The chain is stepped as a read steps
    // it, so a seek reads the FAT entries of the clusters it crosses only.
    const uint32_t bcs = static_cast<uint32_t>(fs->csize) * SECTOR_SIZE;
    const uint32_t head = (fs->fptr - 1) & ~(bcs - 1);
    fs->fptr = ofs > head ? head : 0;
    uint32_t skipped = 0;
    return transfer(fs, nullptr, ofs - fs->fptr, &skipped, Transfer::Skip);
}
