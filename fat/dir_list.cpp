// Listing a directory one entry per call.
#include "dir_entry.h"

FRESULT pf_opendir(FATFS* fs, DIR* dir, const char* path) {
    if (!fs || fs->fs_type == FS_NONE) {
        return FR_NOT_ENABLED;
    }
    const uint8_t* const entry = scratch_of(fs)->found.entry;
    const FRESULT res = follow_path(fs, dir, path);
    if (res != FR_OK) {
        return res;
    }
    if (entry[0] != 0) {
        if (!(entry[DIR_ATTR] & ATTR_DIR)) {
            return FR_NO_FILE;
        }
        dir->sclust = get_clust(fs);
    }
    return dir_rewind(fs, dir);
}

FRESULT dir_read(FATFS* fs, DIR* dir, uint8_t* entry) {
    FRESULT res = FR_NO_FILE;
    while (dir->sect) {
        if (!read_entry(dir, entry)) {
            res = FR_DISK_ERR;
            break;
        }
        const uint8_t c = entry[0];
        if (c == NAME_END) {
            res = FR_NO_FILE;
            break;
        }
        if (c != NAME_DELETED && c != '.' && !(entry[DIR_ATTR] & ATTR_VOLUME)) {
            return FR_OK;
        }
        res = dir_next(fs, dir);
        if (res != FR_OK) {
            break;
        }
    }
    dir->sect = 0;
    return res;
}

void get_fileinfo(DIR* dir, const uint8_t* entry, FILINFO* fno) {
    char* p = fno->fname;
    if (dir->sect) {
        for (uint32_t i = 0; i < 8 && entry[i] != ' '; i++) {
            *p++ = static_cast<char>(entry[i]);
        }
        if (entry[0] == NAME_KANJI_E5) {
            fno->fname[0] = static_cast<char>(NAME_DELETED);
        }
        if (entry[8] != ' ') {
            *p++ = '.';
            for (uint32_t i = 8; i < NAME_LEN && entry[i] != ' '; i++) {
                *p++ = static_cast<char>(entry[i]);
            }
        }
        fno->fattrib = entry[DIR_ATTR];
        fno->fsize = ld_aligned_dword(entry + DIR_FILE_SIZE);
        fno->fdate = ld_aligned_word(entry + DIR_WRT_DATE);
        fno->ftime = ld_aligned_word(entry + DIR_WRT_TIME);
    }
    *p = 0;
}

FRESULT pf_readdir(FATFS* fs, DIR* dir, FILINFO* fno) {
    if (!fs || fs->fs_type == FS_NONE) {
        return FR_NOT_ENABLED;
    }
    if (!fno) {
        return dir_rewind(fs, dir);
    }
    uint8_t* const entry = scratch_of(fs)->found.entry;
    FRESULT res = dir_read(fs, dir, entry);
    if (res != FR_OK && res != FR_NO_FILE) {
        return res;
    }
    get_fileinfo(dir, entry, fno);
    res = dir_next(fs, dir);
    if (res != FR_OK) {
        dir->sect = 0;
        if (res == FR_NO_FILE) {
            res = FR_OK;
        }
    }
    return res;
}
