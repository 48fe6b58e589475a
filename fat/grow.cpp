// Making, growing, shrinking and removing files, in the image that does. The
// FAT and directory sectors are changed in the 512-byte block the caller
// lends: read whole, changed, and written back whole, the FAT to each copy.
// The module has no sector buffer of its own.
//
// The order of the writes keeps a power cut from costing more than a
// repair can mend without losing a byte: new clusters are linked before the
// data goes in and the entry gets the new size last; a file shrinks or goes
// in its entry first and gives its clusters back after. Between two writes a
// card holds lost clusters, or a chain longer than its file, and nothing else.
#include "diskio.h"
#include "fat_fs.h"
#include "fat_layout.h"

#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING

namespace {

// The end of a chain; an entry of 12 or 16 bits takes its low bits.
constexpr uint32_t FAT_END = 0x0FFFFFFF;
// No clock: every entry the module writes is dated 1 January 2026, 00:00:00.
constexpr uint32_t FIXED_DATE = (2026 - 1980) << 9 | 1 << 5 | 1;
constexpr uint32_t FIXED_TIME = 0;
// FAT32's FSInfo sector: its two signatures, then its free count and next
// free cluster, each 0xFFFFFFFF when unknown.
constexpr uint32_t FSINFO_LEAD = 0x41615252;
constexpr uint32_t FSINFO_STRUCT = 0x61417272;
constexpr uint32_t FSINFO_STRUCT_AT = 484;
constexpr uint32_t FSINFO_FREE_AT = 488;

// The card's result, RES_OK when the sector is in the block. A tail call
// with no frame of its own: it stands under the FAT window's deepest calls.
uint32_t read_sector(uint32_t sector, uint8_t* block) { return disk_readp(block, sector, 0, SECTOR_SIZE); }

// One sector of the FAT at a time in the lent block, through the window in
// the working space (FatWindow). An entry is 3, 4 or 8 nibbles (FAT12, FAT16,
// FAT32) at nibble `cluster x that` of the FAT, so one rule reads and writes
// all three, an entry split over two sectors too. FAT32's top nibble is
// reserved: it is neither read nor written.
constexpr uint32_t NO_SECTOR = ~0u;

FatWindow& window_of(FATFS* fs) { return scratch_of(fs)->window; }

// The FAT sector in the block goes out to every copy of the FAT; `sector` comes in.
void move_window(FATFS* fs, uint32_t sector) {
    FatWindow& w = window_of(fs);
    for (uint32_t copy = 0; w.dirty && !w.failed && copy < fs->n_fats; copy++) {
        w.failed = disk_write_sector(fs->fatbase + copy * fs->fat_size + w.sector, w.block) != RES_OK;
    }
    w.dirty = false;
    w.sector = sector;
    if (sector != NO_SECTOR) {
        w.failed |= read_sector(fs->fatbase + sector, w.block) != RES_OK;
    }
}

// The entry of `clst` as it was; with `set`, it then holds `value`.
uint32_t fat_entry(FATFS* fs, uint32_t clst, uint32_t value = 0, bool set = false) {
    FatWindow& w = window_of(fs);
    const uint32_t type = fs->fs_type;
    const uint32_t apart = type == FS_FAT32 ? 8 : type + 2;
    uint32_t old = 0;
    for (uint32_t k = 0; k < (type == FS_FAT32 ? 7 : apart); k++) {
        const uint32_t n = clst * apart + k;
        if (n / (2 * SECTOR_SIZE) != w.sector) {
            move_window(fs, n / (2 * SECTOR_SIZE));
        }
        uint8_t* const b = w.block + n / 2 % SECTOR_SIZE;
        const uint32_t shift = n % 2 * 4;
        old |= (*b >> shift & 0xFu) << 4 * k;
        if (set) {
            *b = static_cast<uint8_t>((*b & ~(0xFu << shift)) | (value >> 4 * k & 0xFu) << shift);
            w.dirty = true;
        }
    }
    return old;
}

// Takes `need` free clusters, from `hint` on round the FAT: one straight line
// of them when there is a free one that long, else the first ones free. Links
// them into a chain that ends as a FAT chain does and returns its first
// cluster; 0, with nothing changed, when the card has fewer free clusters.
uint32_t allocate(FATFS* fs, uint32_t hint, uint32_t need) {
    FatWindow& w = window_of(fs);
    const uint32_t n_fatent = fs->n_fatent;
    uint32_t start = hint;
    uint32_t line = 0;
    uint32_t free = 0;
    uint32_t clst = hint;
    for (uint32_t seen = 2; seen < n_fatent && line < need; seen++, clst++) {
        if (clst >= n_fatent) {
            clst = 2;
            line = 0; // the FAT's last cluster and its first are no line
        }
        if (fat_entry(fs, clst) != 0) {
            line = 0;
        } else if (free++, line++ == 0) {
            start = clst;
        }
    }
    if (w.failed || free < need) {
        return 0;
    }
    if (line < need) {
        start = hint; // no line that long: the first free ones from the hint
    }
    // Each cluster taken ends the chain, and the one before it points to it.
    uint32_t first = 0;
    uint32_t prev = 0;
    for (clst = start; need != 0 && !w.failed; clst++) {
        if (clst >= n_fatent) {
            clst = 2;
        }
        if (fat_entry(fs, clst) == 0) {
            if (prev != 0) {
                fat_entry(fs, prev, clst, true);
            } else {
                first = clst;
            }
            fat_entry(fs, clst, FAT_END, true);
            prev = clst;
            need--;
            w.free_delta--;
        }
    }
    return first;
}

// Gives back the chain from `clst` on. A chain that loops ends at its first
// entry given back already, which reads free.
void release(FATFS* fs, uint32_t clst) {
    FatWindow& w = window_of(fs);
    while (clst >= 2 && clst < fs->n_fatent && !w.failed) {
        clst = fat_entry(fs, clst, 0, true);
        w.free_delta++;
    }
}

void open_window(FATFS* fs, uint8_t* block) { window_of(fs) = {block, NO_SECTOR, 0, false, false}; }

// The FAT sector in the block goes out, then FAT32's FSInfo learns how the
// free count changed (unless no tool keeps it: unknown) and that its next
// free cluster is unknown.
bool close_window(FATFS* fs) {
    const FatWindow& w = window_of(fs);
    move_window(fs, NO_SECTOR);
    const uint32_t sector = fs->fsinfo;
    if (w.failed || sector == 0 || w.free_delta == 0) {
        return !w.failed;
    }
    uint8_t* const block = w.block;
    if (read_sector(sector, block) != RES_OK) {
        return false;
    }
    unaligned_u32* const counts = reinterpret_cast<unaligned_u32*>(block + FSINFO_FREE_AT);
    if (ld_dword(block) != FSINFO_LEAD || ld_dword(block + FSINFO_STRUCT_AT) != FSINFO_STRUCT) {
        return true;
    }
    if (counts[0] != ~0u) {
        counts[0] += static_cast<uint32_t>(w.free_delta);
    }
    counts[1] = ~0u;
    return disk_write_sector(sector, block) == RES_OK;
}

uint32_t clusters_for(const FATFS* fs, uint32_t size) {
    const uint32_t bcs = fs->csize * SECTOR_SIZE;
    return size == 0 ? 0 : (size - 1) / bcs + 1;
}

// Characters no short name may hold (the FAT specification), one bit each
// from 0x20 on; a dot only as the one between name and extension.
bool forbidden(uint32_t c) {
    const uint32_t mask = c < 0x40 ? 0xFC009C05 : c < 0x60 ? 0x38000000 : 0x90000000;
    return c < 0x80 && (c < 0x20 || (mask >> (c & 31) & 1) != 0);
}

// Whether the last segment of `path` is a short name a file can be made
// with: 1 to 8 characters, then at most a dot and 1 to 3 more.
bool valid_name(const char* path) {
    const char* segment = path;
    for (const char* p = path; static_cast<uint8_t>(*p) > ' '; p++) {
        if (*p == '/') {
            segment = p + 1;
        }
    }
    uint32_t name = 0;
    uint32_t ext = 0;
    bool dot = false;
    for (const char* p = segment; static_cast<uint8_t>(*p) > ' '; p++) {
        const auto c = static_cast<uint8_t>(*p);
        if (c == '.') {
            if (dot || name == 0) {
                return false;
            }
            dot = true;
        } else if (forbidden(c) || (dot ? ++ext > 3 : ++name > 8)) {
            return false;
        }
    }
    return name != 0 && dot == (ext != 0);
}

void stamp(uint8_t* e) {
    *reinterpret_cast<unaligned_u16*>(e + DIR_WRT_TIME) = FIXED_TIME;
    *reinterpret_cast<unaligned_u16*>(e + DIR_WRT_DATE) = FIXED_DATE;
    *reinterpret_cast<unaligned_u16*>(e + DIR_ACC_DATE) = FIXED_DATE;
}

// Marks the entries of `sector` from slot `first` to slot `last` deleted.
bool delete_entries(uint32_t sector, uint32_t first, uint32_t last, uint8_t* block) {
    if (read_sector(sector, block) != RES_OK) {
        return false;
    }
    for (uint32_t i = first; i <= last; i++) {
        block[i * DIR_ENTRY_SIZE] = NAME_DELETED;
    }
    return disk_write_sector(sector, block) == RES_OK;
}

} // namespace

FRESULT pf_make(FATFS* fs, const char* path) {
    fs->flag = 0;
    if (fs->fs_type == FS_NONE) {
        return FR_NOT_ENABLED;
    }
    // A name no file may have is refused before it is looked for: a long
    // one would be taken apart into a directory and a name.
    if (!valid_name(path)) {
        return FR_INVALID_NAME;
    }
    FatScratch* const scratch = scratch_of(fs);
    const uint8_t* const entry = scratch->found.entry;
    const FRESULT res = follow_path(fs, &scratch->walk, path);
    if (res == FR_OK) {
        if (entry[0] == 0 || (entry[DIR_ATTR] & ATTR_DIR)) {
            return FR_DENIED; // the root or a directory
        }
        open_file(fs, get_clust(fs), ld_aligned_dword(entry + DIR_FILE_SIZE));
        return FR_OK;
    }
    // Only a last segment that names nothing is made; a missing directory
    // on the way stays "No File".
    if (res != FR_NO_FILE || scratch->found.name[NAME_LAST] == 0) {
        return res;
    }
    if (scratch->walk.free_sect == 0) {
        return FR_DIR_FULL;
    }
    // Open, empty and not yet in its directory: pf_commit puts the entry in
    // the free slot, with the name still in the working space.
    open_file(fs, 0, 0);
    fs->dir_sect = scratch->walk.free_sect;
    fs->dir_index = static_cast<uint8_t>(scratch->walk.free_index % ENTRIES_PER_SECTOR);
    fs->flag = FLAG_OPEN | FLAG_UNBORN;
    return FR_OK;
}

FRESULT pf_commit(FATFS* fs, uint8_t* block) {
    if (!(fs->flag & FLAG_OPEN)) {
        return FR_NOT_OPENED;
    }
    if (read_sector(fs->dir_sect, block) != RES_OK) {
        return FR_DISK_ERR;
    }
    uint8_t* const e = block + fs->dir_index * DIR_ENTRY_SIZE;
    if (fs->flag & FLAG_UNBORN) {
        const uint8_t* const name = scratch_of(fs)->found.name;
        mem_set(e, 0, DIR_ENTRY_SIZE);
        for (uint32_t i = 0; i < NAME_LEN; i++) {
            e[i] = name[i];
        }
        if (e[0] == NAME_DELETED) {
            e[0] = NAME_KANJI_E5;
        }
        e[DIR_ATTR] = ATTR_ARCHIVE;
        *reinterpret_cast<unaligned_u16*>(e + DIR_CRT_DATE) = FIXED_DATE;
        *reinterpret_cast<unaligned_u16*>(e + DIR_CRT_TIME) = FIXED_TIME;
    }
    stamp(e);
    *reinterpret_cast<unaligned_u32*>(e + DIR_FILE_SIZE) = fs->fsize;
    *reinterpret_cast<unaligned_u16*>(e + DIR_CLUST_LO) = static_cast<uint16_t>(fs->org_clust);
    if (fs->fs_type == FS_FAT32) {
        *reinterpret_cast<unaligned_u16*>(e + DIR_CLUST_HI) = static_cast<uint16_t>(fs->org_clust >> 16);
    }
    if (disk_write_sector(fs->dir_sect, block) != RES_OK) {
        fs->flag = 0;
        return FR_DISK_ERR;
    }
    fs->flag = static_cast<uint8_t>(fs->flag & ~FLAG_UNBORN);
    return FR_OK;
}

FRESULT pf_grow(FATFS* fs, uint32_t size, uint8_t* block) {
    if (!(fs->flag & FLAG_OPEN)) {
        return FR_NOT_OPENED;
    }
    const uint32_t have = clusters_for(fs, fs->fsize);
    const uint32_t want = clusters_for(fs, size);
    if (want > have) {
        // The file's last cluster, found before the FAT starts to change.
        const uint32_t last = have != 0 ? cluster_at(fs, have - 1) : 0;
        if (have != 0 && last < 2) {
            fs->flag = 0;
            return FR_DISK_ERR;
        }
        open_window(fs, block);
        const uint32_t first = allocate(fs, last + 1 < 2 ? 2 : last + 1, want - have);
        if (first == 0) {
            return window_of(fs).failed ? FR_DISK_ERR : FR_CARD_FULL;
        }
        if (last != 0) {
            fat_entry(fs, last, first, true);
        } else {
            fs->org_clust = first;
        }
        if (!close_window(fs)) {
            fs->flag = 0;
            return FR_DISK_ERR;
        }
    }
    fs->fsize = size;
    return FR_OK;
}

FRESULT pf_shrink(FATFS* fs, uint32_t size, uint8_t* block) {
    if (!(fs->flag & FLAG_OPEN)) {
        return FR_NOT_OPENED;
    }
    const uint32_t keep = clusters_for(fs, size);
    uint32_t last = 0;
    uint32_t rest = fs->org_clust;
    if (keep != 0) {
        last = cluster_at(fs, keep - 1);
        if (last < 2) {
            fs->flag = 0;
            return FR_DISK_ERR;
        }
    }
    fs->fsize = size;
    if (keep == 0) {
        fs->org_clust = 0;
    }
    FRESULT res = pf_commit(fs, block);
    if (res != FR_OK) {
        return res;
    }
    open_window(fs, block);
    if (last != 0) {
        rest = fat_entry(fs, last);
        if (rest >= 2 && rest < fs->n_fatent) {
            fat_entry(fs, last, FAT_END, true);
        }
    }
    release(fs, rest);
    forget_chain(fs);
    if (!close_window(fs)) {
        fs->flag = 0;
        return FR_DISK_ERR;
    }
    return FR_OK;
}

FRESULT pf_unlink(FATFS* fs, const char* path, uint8_t* block) {
    FatScratch* const scratch = scratch_of(fs);
    const uint8_t* const entry = scratch->found.entry;
    const FRESULT res = find_named(fs, path);
    if (res != FR_OK) {
        return res;
    }
    if (entry[0] == 0) {
        return FR_NO_FILE; // the root
    }
    if (entry[DIR_ATTR] & (ATTR_DIR | ATTR_READ_ONLY)) {
        return FR_DENIED;
    }
    const uint32_t first = get_clust(fs);
    // The entry goes first, with the long-name entries in its sector, then
    // those in the sector before; its clusters are lost until given back.
    const DIR* const walk = &scratch->walk;
    const uint32_t lfn_first = walk->lfn_index % ENTRIES_PER_SECTOR;
    const bool lfn_before = walk->lfn_sect != 0 && walk->lfn_sect != walk->sect;
    if (!delete_entries(walk->sect,
                        walk->lfn_sect == 0 ? walk->index % ENTRIES_PER_SECTOR
                        : lfn_before        ? 0
                                            : lfn_first,
                        walk->index % ENTRIES_PER_SECTOR, block) ||
        (lfn_before && !delete_entries(walk->lfn_sect, lfn_first, ENTRIES_PER_SECTOR - 1, block))) {
        return FR_DISK_ERR;
    }
    open_window(fs, block);
    release(fs, first);
    return close_window(fs) ? FR_OK : FR_DISK_ERR;
}

#endif
