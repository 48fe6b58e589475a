// Reading and writing the open file: counted strings below 256 bytes, raw
// buffers from 256 on, and writes at any position turned into whole-sector writes.
#include "commands.h"
#include "host.h"

namespace {

constexpr int32_t STRING_FORM_LIMIT = 256;
constexpr uint32_t SECTOR_SIZE = 512;
constexpr uint32_t SECTOR_OFFSET_MASK = SECTOR_SIZE - 1;

} // namespace

void mode_read(STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t* p4) {
    FATFS* const fs = &sb->FatFs;
    const int32_t count = *p3;
    if (count < 0) {
        // The FAT layer would take it as a huge unsigned count and run past the caller's memory.
        p1[0] = 0;
        *p4 = 0;
        return;
    }
    if (*p2 >= 0) {
        seek_reported(fs, static_cast<uint32_t>(*p2));
    }
    const bool counted = count < STRING_FORM_LIMIT;
    const uint32_t j = read_reported(fs, counted ? p1 + 1 : p1, static_cast<uint32_t>(count));
    if (counted) {
        p1[0] = static_cast<uint8_t>(j);
    }
    *p4 = static_cast<int32_t>(j);
}

void mode_write(STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, int32_t* p3) {
    FATFS* const fs = &sb->FatFs;
    if (*p3 < 0) {
        return; // refused: a negative count would write past the caller's data
    }
    if (*p2 < 0) {
        *p2 = sb->append_pos;
    }
    const uint32_t count = static_cast<uint32_t>(*p3);
    sb->append_pos = static_cast<int32_t>(static_cast<uint32_t>(sb->append_pos) + count);

    const uint32_t pos = static_cast<uint32_t>(*p2);
    // The seek below would clip such a position to the file's end and the
    // write would then land earlier in the file than asked for.
    if ((fs->flag & FLAG_OPEN) != 0 && pos >= fs->fsize) {
        return;
    }
    const uint32_t secstart = pos & ~SECTOR_OFFSET_MASK;
    const uint32_t secoffset = pos & SECTOR_OFFSET_MASK;
    seek_reported(fs, secstart);

    const uint8_t* s = *p3 < STRING_FORM_LIMIT ? p1 + 1 : p1;
    uint32_t rest = count; // bytes written straight from the caller's data
    if (secoffset != 0) {
        // The layer below writes whole sectors from their start, so the bytes
        // around the new data in their first sector are read and written back
        // with it. The seek back goes to pos, inside the sector just read: the
        // file stays in its cluster and the write starts from the head of that
        // sector without walking the chain again (a seek to the sector's head,
        // at a cluster boundary, would walk it from the first cluster).
        uint8_t* const p = host_alloc(SECTOR_SIZE);
        const uint32_t got = read_reported(fs, p, SECTOR_SIZE);
        seek_reported(fs, pos);
        const uint32_t here = count < SECTOR_SIZE - secoffset ? count : SECTOR_SIZE - secoffset;
        for (uint32_t i = 0; i < here; ++i) {
            p[secoffset + i] = s[i];
        }
        write_reported(fs, p, got);
        s += here;
        rest = count - here;
    }
    // An aligned write always goes through here, even of no bytes at all, so
    // each step reports as before.
    if (secoffset == 0 || rest != 0) {
        write_reported(fs, s, rest);
    }
    write_reported(fs, nullptr, 0);
}
