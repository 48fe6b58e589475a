// 8.3 names, walking a directory entry by entry, and resolving a path from the root.
#include "dir_entry.h"
#include "pff.h"

const char* create_name(uint8_t* sfn, const char* p) {
    uint32_t si = 0;
    uint32_t i = 0;
    uint32_t ni = 8;
    uint8_t c;

    mem_set(sfn, ' ', NAME_LEN);
    for (;;) {
        c = static_cast<uint8_t>(p[si++]);
        if (c <= ' ' || c == '/') {
            break;
        }
        if (c == '.' || i >= ni) {
            if (ni != 8 || c != '.') {
                // A ninth character, a fourth after the dot or a second
                // dot ends the segment: it is dropped, the segment is not
                // the path's last, and what follows it is the next one.
                break;
            }
            i = 8;
            ni = NAME_LEN;
            continue;
        }
        if (c >= 'a' && c <= 'z') {
            c = static_cast<uint8_t>(c - 0x20);
        }
        sfn[i++] = c;
    }
    sfn[NAME_LAST] = c <= ' ' ? 1 : 0;
    return p + si;
}

namespace {

bool same_name(const uint8_t* dir, const uint8_t* name) {
    uint32_t i = 0;
    while (i < NAME_LEN && dir[i] == name[i]) {
        i++;
    }
    return i == NAME_LEN;
}

} // namespace

FRESULT dir_rewind(FATFS* fs, DIR* dj) {
    dj->index = 0;
    uint32_t clst = dj->sclust;
    uint32_t sect = fs->dirbase;
    if (clst != 0 || fs->fs_type == FS_FAT32) {
        if (clst == 0) {
            clst = sect; // the FAT32 root's cluster
        }
        // A cluster outside the volume (the FAT32 root's too) would leave
        // sect 0 and the walk would take the card's first sector for a
        // directory; clust2sect refuses it.
        sect = clust2sect(fs, clst);
        if (sect == 0) {
            return FR_DISK_ERR;
        }
    }
    dj->clust = clst;
    dj->sect = sect;
    return FR_OK;
}

FRESULT dir_next(FATFS* fs, DIR* dj) {
    const uint16_t i = static_cast<uint16_t>(dj->index + 1);
    if (i == 0 || dj->sect == 0) {
        return FR_NO_FILE;
    }
    if (i % ENTRIES_PER_SECTOR == 0) {
        dj->sect++;
        if (dj->clust == 0) {
            if (i >= fs->n_rootdir) {
                return FR_NO_FILE;
            }
        } else if (((i / ENTRIES_PER_SECTOR) & (fs->csize - 1u)) == 0) {
            const uint32_t clst = chain_next(fs, dj->clust, i / ENTRIES_PER_SECTOR - fs->csize);
            if (clst <= 1) {
                return FR_DISK_ERR;
            }
            if (clst >= fs->n_fatent) {
                return FR_NO_FILE;
            }
            dj->clust = clst;
            dj->sect = clust2sect(fs, clst);
        }
    }
    dj->index = i;
    return FR_OK;
}

FRESULT dir_find(FATFS* fs, DIR* dj) {
    uint8_t* const dir = scratch_of(fs)->found.entry;
    FRESULT res = dir_rewind(fs, dj);
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
    dj->free_sect = 0;
    dj->lfn_sect = 0;
#endif
    while (res == FR_OK) {
        if (!read_entry(dj, dir)) {
            return FR_DISK_ERR;
        }
        const uint8_t c = dir[0];
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
        // Where a new entry could go: the first deleted slot, or the end.
        if ((c == NAME_END || c == NAME_DELETED) && dj->free_sect == 0) {
            dj->free_sect = dj->sect;
            dj->free_index = dj->index;
        }
#endif
        if (c == NAME_END) {
            return FR_NO_FILE;
        }
        // A deleted entry's clusters may already belong to another file.
        if (c != NAME_DELETED && !(dir[DIR_ATTR] & ATTR_VOLUME) &&
            same_name(dir, scratch_of(fs)->found.name)) {
            return FR_OK;
        }
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
        // The live long-name entries right before a short one belong to it.
        if (c != NAME_DELETED && dir[DIR_ATTR] == ATTR_LONG_NAME) {
            if (dj->lfn_sect == 0) {
                dj->lfn_sect = dj->sect;
                dj->lfn_index = dj->index;
            }
        } else {
            dj->lfn_sect = 0;
        }
#endif
        res = dir_next(fs, dj);
    }
    return res;
}

FRESULT follow_path(FATFS* fs, DIR* dj, const char* path) {
    uint8_t* const dir = scratch_of(fs)->found.entry;
    while (*path == ' ') {
        path++;
    }
    if (*path == '/') {
        path++;
    }
    dj->sclust = 0; // there is no current directory
    if (static_cast<uint8_t>(*path) < ' ') {
        const FRESULT res = dir_rewind(fs, dj);
        dir[0] = 0;
        return res;
    }
    const uint8_t* const name = scratch_of(fs)->found.name;
    for (;;) {
        path = create_name(scratch_of(fs)->found.name, path);
        const FRESULT res = dir_find(fs, dj);
        if (res != FR_OK) {
            return res;
        }
        if (name[NAME_LAST]) {
            return FR_OK;
        }
        if (!(dir[DIR_ATTR] & ATTR_DIR)) {
            return FR_NO_FILE;
        }
        dj->sclust = get_clust(fs);
    }
}
