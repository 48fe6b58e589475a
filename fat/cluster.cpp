// FAT entries, the walk along a chain, and the cluster-to-sector map.
#include "diskio.h"
#include "fat_fs.h"
#include "fat_layout.h"
#include "module_assert.h"

// Twice the bytes of an entry are 3, 4 or 8; the mount keeps every cluster
// number below 2^28, so nothing wraps. `type + 2` is 3 for FAT12 and 4 for
// FAT16 only because their codes are 1 and 2 (checked here); against a
// second type test it saves 20 bytes (24 on the growing image, measured).
static_assert(FS_FAT12 == 1 && FS_FAT16 == 2, "fat_offset takes type + 2 for twice the entry size");
uint32_t fat_offset(uint32_t type, uint32_t clst) { return clst * (type == FS_FAT32 ? 8 : type + 2) / 2; }

// The entry of clst, read into the four bytes at buf; 1 when it cannot be
// read. 1 is no cluster a chain can link to, so "chain broken" needs no
// value of its own: the callers test the entry for < 2 (<= 1), which also
// catches a free entry (0) met on a chain.
// While the FAT sector streams by, the entries after it that count up from it
// are counted into fs->fat_run (none on FAT12, whose entries share bytes).
uint32_t get_fat(FATFS* fs, uint32_t clst, uint8_t* buf) {
    if (clst < 2 || clst >= fs->n_fatent) {
        return 1;
    }
    // Only fs and clst are kept across the card's reads, everything else is
    // worked out again from them: this stands under the deepest calls.
    buf[0] = buf[1] = buf[2] = buf[3] = 0;
    uint32_t byte_offset = fat_offset(fs->fs_type, clst);
    // Only a 12-bit entry can straddle two sectors; then each half comes from its own.
    uint32_t first = fs->fs_type == FS_FAT32 ? 4 : 2;
    if (fs->fs_type == FS_FAT12) {
        first = byte_offset % SECTOR_SIZE == SECTOR_SIZE - 1 ? 1 : 2;
    } else {
        first |= read_run(first);
    }
    // Entries of 2 and 4 bytes sit at offsets of their size: never across a sector.
    MODULE_ASSERT(byte_offset % SECTOR_SIZE + (first & 0xFF) <= SECTOR_SIZE);
    const uint32_t got =
        disk_readp(buf, fs->fatbase + byte_offset / SECTOR_SIZE, byte_offset % SECTOR_SIZE, first);
    if ((got & 0xFF) != RES_OK) {
        return 1;
    }
    fs->fat_run = static_cast<uint8_t>(got >> READ_RUN_SHIFT);
    byte_offset = fat_offset(fs->fs_type, clst);
    if (byte_offset % SECTOR_SIZE == SECTOR_SIZE - 1 &&
        disk_readp(buf + 1, fs->fatbase + byte_offset / SECTOR_SIZE + 1, 0, 1) != RES_OK) {
        return 1;
    }
    const uint32_t w = ld_dword(buf);
    if (fs->fs_type == FS_FAT12) {
        return ((clst & 1) ? w >> 4 : w) & 0xFFF;
    }
    return w & 0x0FFFFFFF; // a 16-bit entry leaves the upper bytes 0
}

// A corrupt FAT can link a chain back into itself; followed blindly, a seek or
// a lookup would run for hours. `sector_offset` is the sector offset of `clst` within its
// file or directory, growing along a walk (by more than a cluster where a
// known straight line is skipped). Brent's check: fs->mark takes the cluster
// whenever `sector_offset` has doubled since the last one taken (or a new walk starts),
// and meeting it again further on is a loop, caught within about three times
// the loop and its lead-in. A chain without a loop is no longer than the FAT,
// so no walk goes past its entry count. The file and the listing share the
// mark: a walk that takes it over can only be refused where two chains share
// a cluster, which is itself corruption, and hands it back when `sector_offset` doubles.
[[gnu::noinline]] uint32_t chain_next(FATFS* fs, uint32_t clst, uint32_t sector_offset) {
    if (sector_offset >= 2 * fs->mark_at || sector_offset < fs->mark_at) {
        fs->mark = clst;
        fs->mark_at = sector_offset + 1;
    } else if (clst == fs->mark) {
        return 1;
    }
    if (sector_offset >= fs->n_fatent * fs->csize) {
        return 1;
    }
    // The entry is read into `sector_offset`, no longer needed. On the chip (o32 calling
    // convention) the caller's frame keeps a slot for each of the first four
    // arguments, and a parameter whose address is taken is stored there, so
    // this frame needs no buffer of its own. That needs noinline: inlined, `sector_offset`
    // would become a local of the caller's frame. Plain C++ either way, so a
    // change breaks nothing but the stack: a local buffer here costs 8 bytes
    // of the deepest chain's stack on the standard and read-only images (it
    // would save 4 bytes of code; measured).
    return get_fat(fs, clst, reinterpret_cast<uint8_t*>(&sector_offset));
}

// What is known of the open file's chain is two straight lines: clusters 0 to
// head_last of the file are org_clust and the ones after it, and clusters
// run_first to run_last are run_clust and the ones after it. The second
// always holds the cluster the file stands in. A cluster on a line is found
// by arithmetic; any other is reached by walking from the end of the nearest
// line before it, each FAT read adding the line it shows.
uint32_t cluster_at(FATFS* fs, uint32_t index) {
    for (;;) {
        if (index <= fs->head_last) {
            fs->run_first = 0;
            fs->run_last = fs->head_last;
            fs->run_clust = fs->org_clust;
        }
        if (fs->run_first <= index) {
            const uint32_t along = index - fs->run_first;
            const uint32_t end = fs->run_last - fs->run_first;
            const uint32_t clst = fs->run_clust + (along < end ? along : end);
            if (along <= end) {
                return clst;
            }
            // On from the line's last cluster.
            const uint32_t last = fs->run_last;
            const uint32_t next = chain_next(fs, clst, last * fs->csize);
            if (next < 2) {
                return next;
            }
            if (next == clst + 1) {
                fs->run_first = last;
                fs->run_clust = clst;
                fs->run_last = last + 1 + fs->fat_run;
                if (last == fs->head_last && clst == fs->org_clust + last) {
                    fs->head_last = fs->run_last;
                }
            } else {
                fs->run_first = last + 1;
                fs->run_clust = next;
                fs->run_last = last + 1;
            }
        } else {
            // Before the line the file stands on: back to the file's head line.
            fs->run_first = 0;
            fs->run_last = fs->head_last;
            fs->run_clust = fs->org_clust;
        }
    }
}

[[gnu::noinline]] uint32_t clust2sect(FATFS* fs, uint32_t clst) {
    clst -= 2;
    if (clst >= fs->n_fatent - 2) {
        return 0;
    }
    return clst * fs->csize + fs->database;
}

uint32_t get_clust(FATFS* fs) {
    const uint8_t* const entry = scratch_of(fs)->found.entry;
    uint32_t clst = ld_aligned_word(entry + DIR_CLUST_LO);
    if (fs->fs_type == FS_FAT32) {
        clst |= static_cast<uint32_t>(ld_aligned_word(entry + DIR_CLUST_HI)) << 16;
    }
    return clst;
}
