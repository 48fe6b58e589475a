// Layout of the host's state block: everything the module keeps between calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "fat_fs.h"
#include "host.h"
#include "state_offsets.h"

// Longest name the 16-byte name buffer holds with its length byte and terminator.
constexpr uint32_t FN_MAX_NAME = 14;

// Name buffer of one call: the caller's length byte, up to 14 characters,
// terminator. A name longer than FN_MAX_NAME keeps its length byte only: the
// byte tells whether the name fits, so the buffer needs no flag beside it.
struct NameBuffer {
    uint8_t fn[16];
    bool fits() const { return fn[0] <= FN_MAX_NAME; }
    const char* path() const { return reinterpret_cast<const char*>(fn + 1); }
};

struct STATE_BLOCK {
    uint8_t unused_head[STATE_FATFS - sizeof(FatScratch)];
    FatScratch scratch; // the file system's working space, just before FatFs (scratch_of)
    FATFS FatFs;        // 0x50: mounted volume and open file
    uint8_t unused_after_fatfs[STATE_FILEINFO - STATE_FATFS - sizeof(FATFS)];
    FILINFO fileinfo; // 0xA0: the entry last listed
    DIR DIRFS;        // 0xB8: the directory being listed
    uint8_t unused_after_dirfs[STATE_DIRFS_ROOM - sizeof(DIR)];
    uint8_t last_result; // 0xE0: the first failed step's code of the last command, for the status command
    uint8_t unused_tail[STATE_NAME - STATE_LAST_RESULT - 1];
    // 0xE4: the name of this call, set afresh by every call. Kept here rather
    // than in the entry point's frame, which lies under every command's
    // deepest call: 16 bytes less stack.
    NameBuffer name;
    uint16_t wc;        // 0xF4: owned by the card driver
    uint16_t write_crc; // 0xF6: owned by the card driver
    int32_t append_pos; // 0xF8: the command layer's running write position
    uint32_t card_kind; // 0xFC: owned by the card driver
};

static_assert(offsetof(STATE_BLOCK, FatFs) == STATE_FATFS);
static_assert(offsetof(STATE_BLOCK, scratch) + sizeof(FatScratch) == STATE_FATFS, "scratch_of finds it");
static_assert(offsetof(STATE_BLOCK, fileinfo) == STATE_FILEINFO);
static_assert(offsetof(STATE_BLOCK, DIRFS) == STATE_DIRFS);
static_assert(sizeof(DIR) <= STATE_DIRFS_ROOM);
static_assert(offsetof(STATE_BLOCK, last_result) == STATE_LAST_RESULT);
static_assert(offsetof(STATE_BLOCK, name) == STATE_NAME);
static_assert(offsetof(STATE_BLOCK, wc) == STATE_WC);
static_assert(offsetof(STATE_BLOCK, write_crc) == STATE_WRITE_CRC);
static_assert(offsetof(STATE_BLOCK, append_pos) == STATE_APPEND_POS);
static_assert(offsetof(STATE_BLOCK, card_kind) == STATE_CARD_KIND);
static_assert(sizeof(STATE_BLOCK) == STATE_BLOCK_SIZE);
static_assert(sizeof(DIR) == (IMAGE_GROWS ? 28 : 16));

inline STATE_BLOCK* state_block() { return reinterpret_cast<STATE_BLOCK*>(host_state_block()); }
