// Making, growing, shrinking and removing files: the commands of the image
// that does. The 512-byte block each borrows from the host is the one place a
// FAT or directory sector is read, changed and written back.
#include "commands.h"
#include "errstring.h"
#include "host.h"

#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING

void open_or_create(STATE_BLOCK* sb, const NameBuffer& name, bool commit) {
    FATFS* const fs = &sb->FatFs;
    if (!name.fits()) {
        fs->flag = 0;
        errstring(FR_NO_FILE);
        return;
    }
    errstring(pf_make(fs, name.path()));
    if (commit && (fs->flag & FLAG_UNBORN) != 0) {
        errstring(pf_commit(fs, lent_block()));
    }
}

void delete_named(STATE_BLOCK* sb, const NameBuffer& name) {
    sb->FatFs.flag = 0;
    errstring(name.fits() ? pf_unlink(&sb->FatFs, name.path(), lent_block()) : FR_NO_FILE);
}

void save_growing(FATFS* fs, const uint8_t* text, uint32_t count, uint8_t* block) {
    const uint32_t bcs = fs->csize * SECTOR_SIZE;
    while (count != 0 && (fs->flag & FLAG_OPEN) != 0) {
        // The file grows a cluster at a time, always at a cluster's end,
        // where no sector write is open.
        if (fs->fptr == fs->fsize) {
            const FRESULT res = pf_grow(fs, fs->fsize + bcs, block);
            if (res != FR_OK) {
                errstring(res);
                return;
            }
        }
        const uint32_t done = write_reported(fs, text, count);
        text += done;
        count -= done;
    }
}

#endif
