// 8.3 names, walking a directory entry by entry, and resolving a path from the root.
#include "dir_entry.h"
#include "fat_fs.h"

const char* create_name(uint8_t* name83, const char* path) {
    uint32_t path_index = 0;
    uint32_t name_index = 0;
    uint32_t name_limit = 8;
    uint8_t c;

    mem_set(name83, ' ', NAME_LEN);
    for (;;) {
        c = static_cast<uint8_t>(path[path_index++]);
        if (c <= ' ' || c == '/') {
            break;
        }
        if (c == '.' || name_index >= name_limit) {
            if (name_limit != 8 || c != '.') {
                // A ninth character, a fourth after the dot or a second
                // dot ends the segment: it is dropped, the segment is not
                // the path's last, and what follows it is the next one.
                break;
            }
            name_index = 8;
            name_limit = NAME_LEN;
            continue;
        }
        if (c >= 'a' && c <= 'z') {
            c = static_cast<uint8_t>(c - 0x20);
        }
        name83[name_index++] = c;
    }
    name83[NAME_LAST] = c <= ' ' ? 1 : 0;
    return path + path_index;
}

namespace {

bool same_name(const uint8_t* entry, const uint8_t* name) {
    uint32_t i = 0;
    while (i < NAME_LEN && entry[i] == name[i]) {
        i++;
    }
    return i == NAME_LEN;
}

} // namespace

FRESULT dir_rewind(FATFS* fs, DIR* dir) {
    dir->index = 0;
    uint32_t clst = dir->sclust;
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
    dir->clust = clst;
    dir->sect = sect;
    return FR_OK;
}

FRESULT dir_next(FATFS* fs, DIR* dir) {
    const uint16_t i = static_cast<uint16_t>(dir->index + 1);
    if (i == 0 || dir->sect == 0) {
        return FR_NO_FILE;
    }
    if (i % ENTRIES_PER_SECTOR == 0) {
        dir->sect++;
        if (dir->clust == 0) {
            if (i >= fs->n_rootdir) {
                return FR_NO_FILE;
            }
        } else if (((i / ENTRIES_PER_SECTOR) & (fs->csize - 1u)) == 0) {
            const uint32_t clst = chain_next(fs, dir->clust, i / ENTRIES_PER_SECTOR - fs->csize);
            if (clst <= 1) {
                return FR_DISK_ERR;
            }
            if (clst >= fs->n_fatent) {
                return FR_NO_FILE;
            }
            dir->clust = clst;
            dir->sect = clust2sect(fs, clst);
        }
    }
    dir->index = i;
    return FR_OK;
}

FRESULT dir_find(FATFS* fs, DIR* dir) {
    uint8_t* const entry = scratch_of(fs)->found.entry;
    FRESULT res = dir_rewind(fs, dir);
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
    dir->free_sect = 0;
    dir->lfn_sect = 0;
#endif
    while (res == FR_OK) {
        if (!read_entry(dir, entry)) {
            return FR_DISK_ERR;
        }
        const uint8_t c = entry[0];
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
        // Where a new entry could go: the first deleted slot, or the end.
        if ((c == NAME_END || c == NAME_DELETED) && dir->free_sect == 0) {
            dir->free_sect = dir->sect;
            dir->free_index = dir->index;
        }
#endif
        if (c == NAME_END) {
            return FR_NO_FILE;
        }
        // A deleted entry's clusters may already belong to another file.
        if (c != NAME_DELETED && !(entry[DIR_ATTR] & ATTR_VOLUME) &&
            same_name(entry, scratch_of(fs)->found.name)) {
            return FR_OK;
        }
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
        // The live long-name entries right before a short one belong to it.
        if (c != NAME_DELETED && entry[DIR_ATTR] == ATTR_LONG_NAME) {
            if (dir->lfn_sect == 0) {
                dir->lfn_sect = dir->sect;
                dir->lfn_index = dir->index;
            }
        } else {
            dir->lfn_sect = 0;
        }
#endif
        res = dir_next(fs, dir);
    }
    return res;
}

FRESULT follow_path(FATFS* fs, DIR* dir, const char* path) {
    uint8_t* const entry = scratch_of(fs)->found.entry;
    while (*path == ' ') {
        path++;
    }
    if (*path == '/') {
        path++;
    }
    dir->sclust = 0; // there is no current directory
    if (static_cast<uint8_t>(*path) < ' ') {
        const FRESULT res = dir_rewind(fs, dir);
        entry[0] = 0;
        return res;
    }
    const uint8_t* const name = scratch_of(fs)->found.name;
    for (;;) {
        path = create_name(scratch_of(fs)->found.name, path);
        const FRESULT res = dir_find(fs, dir);
        if (res != FR_OK) {
            return res;
        }
        if (name[NAME_LAST]) {
            return FR_OK;
        }
        if (!(entry[DIR_ATTR] & ATTR_DIR)) {
            return FR_NO_FILE;
        }
        dir->sclust = get_clust(fs);
    }
}
