// Loading a program text from the card into the host, and saving the host's
// stored program into an existing file as text.
#include "commands.h"
#include "host.h"

namespace {

constexpr uint32_t LOAD_BUFFER_SIZE = 51200;
constexpr uint32_t LOAD_TEXT_MAX = LOAD_BUFFER_SIZE - 2; // room for the two closing zero bytes
// A whole sector per read: the file is read from 0 in sector-aligned pieces,
// so each piece is one block on the card and no block is clocked for a part.
constexpr uint32_t LOAD_READ_SIZE = 512;
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
    uint8_t* p = host_program_memory();
    // Only a line-start byte continues the program; any other byte ends it, as
    // the listing could not step past it.
    while (*p == LINE_START) {
        p = host_list_line(reinterpret_cast<char*>(b), p);
        const uint32_t k = mystrlen(reinterpret_cast<const char*>(b));
        b[k] = 13;
        b[k + 1] = 10;
        write_reported(fs, b, k + 2);
    }
    b[0] = 0;
    b[1] = 0;
    write_reported(fs, b, 2);
    write_reported(fs, nullptr, 0);
}
