// Loading a program text from the card into the host, and saving the host's
// stored program into an existing file as text.
#include "commands.h"
#include "errstring.h"
#include "host.h"

namespace {

constexpr uint32_t LOAD_BUFFER_SIZE = 51200;
constexpr uint32_t LOAD_TEXT_MAX = LOAD_BUFFER_SIZE - 2; // room for the two closing zero bytes
// A whole sector per read: the file is read from 0 in sector-aligned pieces,
// so each piece is one block on the card and no block is clocked for a part.
constexpr uint32_t LOAD_READ_SIZE = SECTOR_SIZE;
constexpr uint32_t SAVE_LINE_SIZE = 256;
constexpr uint8_t LINE_START = 1;

// Number of bytes before the first zero byte among the first `count`.
uint32_t text_length(const uint8_t* bytes, uint32_t count) {
    uint32_t n = 0;
    while (n < count && bytes[n] != 0) {
        ++n;
    }
    return n;
}

} // namespace

void mode_load(STATE_BLOCK* sb) {
    FATFS* const fs = &sb->FatFs;
    uint8_t* const b = host_alloc(LOAD_BUFFER_SIZE);
    seek_reported(fs, 0);

    uint8_t* s = b;
    uint32_t l = 0;
    for (;;) {
        // The last read asks only for what still fits, so the text stops at the buffer's end.
        const uint32_t room = LOAD_TEXT_MAX - l;
        const uint32_t want = room < LOAD_READ_SIZE ? room : LOAD_READ_SIZE;
        const uint32_t j = text_length(s, read_reported(fs, s, want));
        l += j;
        if (j != LOAD_READ_SIZE) {
            break;
        }
        s += LOAD_READ_SIZE;
    }
    b[l] = 0;
    b[l + 1] = 0;
    host_load_program(b, 0);
}

void mode_save(STATE_BLOCK* sb) {
    FATFS* const fs = &sb->FatFs;
    seek_reported(fs, 0);

    uint8_t* const b = host_alloc(SAVE_LINE_SIZE);
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
    // The text may run past the file's last cluster, which then grows: the
    // file's size counts the whole of its clusters until the text is down.
    uint8_t* const block = host_alloc(SECTOR_SIZE);
    const uint32_t bcs = fs->csize * SECTOR_SIZE;
    const uint32_t capacity = fs->fsize + ((0u - fs->fsize) & (bcs - 1));
    if (capacity >= fs->fsize) {
        fs->fsize = capacity;
    }
#endif
    uint8_t* p = host_program_memory();
    // Only a line-start byte continues the program; any other byte ends it, as
    // the listing could not step past it.
    while (*p == LINE_START) {
        p = host_list_line(reinterpret_cast<char*>(b), p);
        const uint32_t k = mystrlen(reinterpret_cast<const char*>(b));
        b[k] = 13;
        b[k + 1] = 10;
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
        save_growing(fs, b, k + 2, block);
#else
        write_reported(fs, b, k + 2);
#endif
    }
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
    // The file ends with the text: no end marks, and no clusters past it.
    write_reported(fs, nullptr, 0);
    if ((fs->flag & FLAG_OPEN) != 0) {
        errstring(pf_shrink(fs, fs->fptr, block));
    }
#else
    b[0] = 0;
    b[1] = 0;
    write_reported(fs, b, 2);
    write_reported(fs, nullptr, 0);
#endif
}
