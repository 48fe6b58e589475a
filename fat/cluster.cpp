// FAT entries and the cluster-to-sector map.
#include "diskio.h"
#include "fat_layout.h"
#include "pff.h"

// Twice the bytes of an entry are 3, 4 or 8; the mount keeps every cluster
// number below 2^28, so nothing wraps.
uint32_t fat_offset(uint32_t type, uint32_t clst) { return clst * (type == FS_FAT32 ? 8 : type + 2) / 2; }

// The entry of clst, read into the four bytes at buf; 1 when it cannot be read.
uint32_t get_fat(FATFS* fs, uint32_t clst, uint8_t* buf) {
    if (clst < 2 || clst >= fs->n_fatent) {
        return 1;
    }
    // Only fs and clst are kept across the card's reads, everything else is
    // worked out again from them: this stands under the deepest calls.
    buf[0] = buf[1] = buf[2] = buf[3] = 0;
    uint32_t bc = fat_offset(fs->fs_type, clst);
    // Only a 12-bit entry can straddle two sectors; then each half comes from its own.
    const uint32_t first = bc % SECTOR_SIZE == SECTOR_SIZE - 1 ? 1 : (fs->fs_type == FS_FAT32 ? 4 : 2);
    if (disk_readp(buf, fs->fatbase + bc / SECTOR_SIZE, bc % SECTOR_SIZE, first) != RES_OK) {
        return 1;
    }
    bc = fat_offset(fs->fs_type, clst);
    if (bc % SECTOR_SIZE == SECTOR_SIZE - 1 &&
        disk_readp(buf + 1, fs->fatbase + bc / SECTOR_SIZE + 1, 0, 1) != RES_OK) {
        return 1;
    }
    const uint32_t w = ld_dword(buf);
    if (fs->fs_type == FS_FAT12) {
        return ((clst & 1) ? w >> 4 : w) & 0xFFF;
    }
    return w & 0x0FFFFFFF; // a 16-bit entry leaves the upper bytes 0
}

// A corrupt FAT can link a chain back into itself; followed blindly, a seek or
// a lookup would run for hours. `at` is the sector offset of `clst` within its
// file or directory. Brent's check: fs->mark takes the cluster at offset 0 and
// at every power-of-two offset, and meeting it again further on is a loop,
// caught within about three times the loop and its lead-in. A chain without a
// loop is no longer than the FAT, so no walk goes past its entry count. The
// file and the listing share the mark: a walk that takes it over can only be
// refused where two chains share a cluster, which is itself corruption, and
// hands it back at its next power of two.
[[gnu::noinline]] uint32_t chain_next(FATFS* fs, uint32_t clst, uint32_t at) {
    if ((at & (at - 1)) == 0) {
        fs->mark = clst;
    } else if (clst == fs->mark) {
        return 1;
    }
    if (at >= fs->n_fatent * fs->csize) {
        return 1;
    }
    // The entry is read into `at`, no longer needed: on the chip a parameter
    // whose address is taken lives in the slot its caller's frame keeps for
    // it, so the walk's deepest frame needs no buffer of its own.
    return get_fat(fs, clst, reinterpret_cast<uint8_t*>(&at));
}

[[gnu::noinline]] uint32_t clust2sect(FATFS* fs, uint32_t clst) {
    clst -= 2;
    if (clst >= fs->n_fatent - 2) {
        return 0;
    }
    return clst * fs->csize + fs->database;
}

uint32_t get_clust(FATFS* fs, const uint8_t* dir) {
    uint32_t clst = ld_word(dir + DIR_CLUST_LO);
    if (fs->fs_type == FS_FAT32) {
        clst |= static_cast<uint32_t>(ld_word(dir + DIR_CLUST_HI)) << 16;
    }
    return clst;
}
