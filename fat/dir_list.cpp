// Listing a directory one entry per call.
#include "dir_entry.h"

FRESULT pf_opendir(FATFS* fs, DIR* dj, const char* path) {
    if (!fs || fs->fs_type == FS_NONE) {
        return FR_NOT_ENABLED;
    }
    const uint8_t* const dir = scratch_of(fs)->found.entry;
    const FRESULT res = follow_path(fs, dj, path);
    if (res != FR_OK) {
        return res;
    }
    if (dir[0] != 0) {
        if (!(dir[DIR_ATTR] & ATTR_DIR)) {
            return FR_NO_FILE;
        }
        dj->sclust = get_clust(fs);
    }
    return dir_rewind(fs, dj);
}

FRESULT dir_read(FATFS* fs, DIR* dj, uint8_t* dir) {
    FRESULT res = FR_NO_FILE;
    while (dj->sect) {
        if (!read_entry(dj, dir)) {
            res = FR_DISK_ERR;
            break;
        }
        const uint8_t c = dir[0];
        if (c == NAME_END) {
            res = FR_NO_FILE;
            break;
        }
        if (c != NAME_DELETED && c != '.' && !(dir[DIR_ATTR] & ATTR_VOLUME)) {
            return FR_OK;
        }
        res = dir_next(fs, dj);
        if (res != FR_OK) {
            break;
        }
    }
    dj->sect = 0;
    return res;
}

void get_fileinfo(DIR* dj, const uint8_t* dir, FILINFO* fno) {
    char* p = fno->fname;
    if (dj->sect) {
        for (uint32_t i = 0; i < 8 && dir[i] != ' '; i++) {
            *p++ = static_cast<char>(dir[i]);
        }
        if (dir[0] == NAME_KANJI_E5) {
            fno->fname[0] = static_cast<char>(NAME_DELETED);
        }
        if (dir[8] != ' ') {
            *p++ = '.';
            for (uint32_t i = 8; i < NAME_LEN && dir[i] != ' '; i++) {
                *p++ = static_cast<char>(dir[i]);
            }
        }
        fno->fattrib = dir[DIR_ATTR];
        fno->fsize = ld_aligned_dword(dir + DIR_FILE_SIZE);
        fno->fdate = ld_aligned_word(dir + DIR_WRT_DATE);
        fno->ftime = ld_aligned_word(dir + DIR_WRT_TIME);
    }
    *p = 0;
}

FRESULT pf_readdir(FATFS* fs, DIR* dj, FILINFO* fno) {
    if (!fs || fs->fs_type == FS_NONE) {
        return FR_NOT_ENABLED;
    }
    if (!fno) {
        return dir_rewind(fs, dj);
    }
    uint8_t* const dir = scratch_of(fs)->found.entry;
    FRESULT res = dir_read(fs, dj, dir);
    if (res != FR_OK && res != FR_NO_FILE) {
        return res;
    }
    get_fileinfo(dj, dir, fno);
    res = dir_next(fs, dj);
    if (res != FR_OK) {
        dj->sect = 0;
        if (res == FR_NO_FILE) {
            res = FR_OK;
        }
    }
    return res;
}
