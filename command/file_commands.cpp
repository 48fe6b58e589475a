// Reading and writing the open file: counted strings below 256 bytes, raw
// buffers from 256 on, and writes at any position turned into whole-sector
// writes that keep every byte outside the data.
#include "commands.h"
#include "errstring.h"
#include "host.h"
#include "module_assert.h"

namespace {

constexpr int32_t STRING_FORM_LIMIT = 256;
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

void mode_write(STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t command) {
    FATFS* const fs = &sb->FatFs;
    const bool resize = IMAGE_GROWS && command == MODE_SET_SIZE;
    if ((resize ? *p2 : *p3) < 0) {
        return; // refused, as a negative count is: it would write past the caller's data
    }
    const uint32_t old = fs->fsize;
    const uint32_t fptr = fs->fptr;
    const uint8_t* s = data_of(p1, *p3);
    uint32_t count = static_cast<uint32_t>(*p3);
    uint32_t pos = old;
    // Lent where the file grows: its FAT and entry sectors pass through it.
    uint8_t* block = nullptr;
    if (IMAGE_GROWS && command == MODE_APPEND) {
        // The data goes at the file's end, which *p2 receives.
        if (count > ~old) {
            count = ~old; // no file grows past 4 GiB less one byte
        }
        *p2 = static_cast<int32_t>(old);
        block = lent_block();
    } else if (resize) {
        // The file becomes *p2 bytes long, and bytes it gains read as zero,
        // whatever the card held there.
        const uint32_t size = static_cast<uint32_t>(*p2);
        block = lent_block();
        count = 0;
        if (size < old || (fs->flag & FLAG_OPEN) == 0) {
            errstring(pf_shrink(fs, size, block));
        } else if (size > old) {
            uint8_t* const zeros = lent_block();
            mem_set(zeros, 0, SECTOR_SIZE);
            s = zeros;
            count = size - old;
        }
    } else {
        if (*p2 < 0) {
            *p2 = sb->append_pos;
        }
        sb->append_pos = static_cast<int32_t>(static_cast<uint32_t>(sb->append_pos) + count);
        pos = static_cast<uint32_t>(*p2);
        if ((fs->flag & FLAG_OPEN) != 0) {
            // The seek would clip such a position to the file's end and the write
            // would then land earlier in the file than asked for.
            if (pos >= fs->fsize) {
                return;
            }
            if (count > fs->fsize - pos) {
                count = fs->fsize - pos;
            }
        }
    }
    if (!resize || count != 0) {
        // A file grows first, and its entry gets the new size last.
        // Only the growing image has the FAT layer's growing calls, and an
        // unoptimised build keeps calls that the block being null rules out.
        FRESULT res = FR_OK;
        if constexpr (IMAGE_GROWS) {
            if (block != nullptr) {
                res = pf_grow(fs, pos + count, block);
                errstring(res);
            }
        }
        if (res == FR_OK) {
            write_span(fs, pos, s, count, resize);
            if constexpr (IMAGE_GROWS) {
                if (block != nullptr) {
                    errstring(pf_commit(fs, block));
                }
            }
        }
    }
    if (resize) {
        seek_reported(fs, fptr); // where it stood, or at the new end
    }
}

const uint8_t* data_of(const uint8_t* p1, int32_t count) { return count < STRING_FORM_LIMIT ? p1 + 1 : p1; }

void write_span(FATFS* fs, uint32_t pos, const uint8_t* s, uint32_t count, bool repeat) {
    seek_reported(fs, pos & ~SECTOR_OFFSET_MASK);

    // The layer below writes whole sectors from their start and fills an
    // unfinished one with zeros, so a sector that the data covers only in part
    // is read first and written back whole, changed only where the data lies:
    // the bytes the caller did not name keep their values. The seek back goes
    // to a position inside the sector just read, so the file stays in its
    // cluster and the write restarts at the sector's head without walking the
    // chain again. Sectors the data covers whole go straight from the caller.
    uint8_t* sector = nullptr;
    while (count != 0 && (fs->flag & FLAG_OPEN) != 0) {
        const uint32_t offset = pos & SECTOR_OFFSET_MASK;
        uint32_t piece = SECTOR_SIZE - offset;
        if (piece > count) {
            piece = count;
        }
        if (piece == SECTOR_SIZE) {
            if (!repeat) {
                piece = count & ~SECTOR_OFFSET_MASK;
            }
            write_reported(fs, s, piece);
        } else {
            if (sector == nullptr) {
                sector = host_alloc(SECTOR_SIZE);
            }
            const uint32_t got = read_reported(fs, sector, SECTOR_SIZE);
            seek_reported(fs, offset != 0 ? pos : pos + piece);
            for (uint32_t i = 0; i < piece; ++i) {
                sector[offset + i] = s[i];
            }
            write_reported(fs, sector, got);
            // The write began at the sector's head, where the read did.
            MODULE_ASSERT((fs->flag & FLAG_OPEN) == 0 || fs->fptr == (pos & ~SECTOR_OFFSET_MASK) + got);
        }
        pos += piece;
        s += repeat ? 0 : piece;
        count -= piece;
    }
    write_reported(fs, nullptr, 0);
}
