// Making, growing, shrinking and removing files: the commands of the image
// that does. The 512-byte block each borrows from the host is the one place a
// FAT or directory sector is read, changed and written back.
#include "commands.h"
#include "errstring.h"
#include "host.h"

#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING

namespace {

constexpr uint32_t SECTOR_SIZE = 512;

uint8_t* lent_block() { return host_alloc(SECTOR_SIZE); }

// The file grows to hold `count` bytes from `at` on, which go in from `s` (or
// the 512 bytes at `s` in every sector, with `repeat`); the entry gets the new
// size last.
void grow_and_write(FATFS* fs, uint32_t at, const uint8_t* s, uint32_t count, bool repeat, uint8_t* block) {
    const FRESULT res = pf_grow(fs, at + count, block);
    errstring(res);
    if (res == FR_OK) {
        write_span(fs, at, s, count, repeat);
        errstring(pf_commit(fs, block));
    }
}

} // namespace

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

void mode_set_size(STATE_BLOCK* sb, const int32_t* p2) {
    FATFS* const fs = &sb->FatFs;
    if (*p2 < 0) {
        return; // refused, as a negative count is
    }
    const uint32_t size = static_cast<uint32_t>(*p2);
    const uint32_t old = fs->fsize;
    const uint32_t fptr = fs->fptr;
    uint8_t* const block = lent_block();
    if (size < old || (fs->flag & FLAG_OPEN) == 0) {
        errstring(pf_shrink(fs, size, block));
    } else if (size > old) {
        // Bytes a file gains read as zero, whatever the card held there.
        uint8_t* const zeros = lent_block();
        mem_set(zeros, 0, SECTOR_SIZE);
        grow_and_write(fs, old, zeros, size - old, true, block);
    }
    // Where it stood, or at the new end.
    seek_reported(fs, fptr);
}

void mode_append(STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, const int32_t* p3) {
    FATFS* const fs = &sb->FatFs;
    if (*p3 < 0) {
        return; // refused: a negative count would write past the caller's data
    }
    const uint32_t old = fs->fsize;
    uint32_t count = static_cast<uint32_t>(*p3);
    if (count > ~old) {
        count = ~old; // no file grows past 4 GiB less one byte
    }
    *p2 = static_cast<int32_t>(old);
    grow_and_write(fs, old, data_of(p1, *p3), count, false, lent_block());
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
