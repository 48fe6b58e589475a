// FAT12/16/32 file system without a sector buffer: one mounted volume, one open
// file, one directory listing. Files are written in place; only the growing
// image makes, grows, shrinks and removes them.
#pragma once

#include <stdint.h>

#include "image_features.h"
#include "sdtypes.h"

struct FATFS {
    uint8_t fs_type;     // 0 none mounted, 1 FAT12, 2 FAT16, 3 FAT32
    uint8_t flag;        // FLAG_OPEN, FLAG_UNBORN, FLAG_WRITING
    uint8_t csize;       // sectors per cluster
    uint8_t n_fats;      // copies of the FAT (kept only where files grow)
    uint16_t n_rootdir;  // entries of the fixed root directory
    uint8_t fat_run;     // entries after the one get_fat read last that count up from it
    uint8_t dir_index;   // open file: its entry's slot in dir_sect (where files grow)
    uint32_t n_fatent;   // data clusters + 2
    uint32_t fatbase;    // first sector of the first FAT
    uint32_t dirbase;    // root directory: first sector (FAT12/16) or first cluster (FAT32)
    uint32_t database;   // first sector of cluster 2
    uint32_t fptr;       // open file: read/write pointer
    uint32_t fsize;      // open file: size
    uint32_t org_clust;  // open file: first cluster
    uint32_t curr_clust; // open file: cluster holding byte fptr - 1
    uint32_t dsect;      // open file: sector of byte fptr (at a sector's head maybe still the one before)
    uint32_t mark;       // cycle check of the chain walked last (chain_next): the cluster taken
    uint32_t mark_at;    // and its sector offset + 1
    // What is known of the open file's chain (cluster_at): two straight lines.
    uint32_t head_last; // its clusters 0 to head_last are org_clust, org_clust + 1, ...
    uint32_t run_first; // its clusters run_first to run_last are run_clust, run_clust + 1, ...
    uint32_t run_last;
    uint32_t run_clust;
    // Kept only where files grow.
    uint32_t dir_sect; // open file: the sector of its directory entry
    uint32_t fat_size; // sectors of one FAT
    uint32_t fsinfo;   // FAT32's FSInfo sector, 0 for none
};
static_assert(sizeof(FATFS) == 80, "FATFS fills 0x50 to 0x9F of the state block");

struct DIR {
    uint16_t index;  // current entry within the directory
    uint32_t sclust; // first cluster of the directory, 0 for the root
    uint32_t clust;  // cluster of the current entry, 0 in a fixed root directory
    uint32_t sect;   // sector of the current entry, 0 once the walk has ended
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
    // What a search saw on the way, for making and removing entries.
    uint32_t free_sect;  // the first free slot: its sector (0: none seen)
    uint16_t free_index; // and its index
    uint16_t lfn_index;  // the long-name entries just before the current one: the first one's index
    uint32_t lfn_sect;   // and sector (0: none)
#endif
};

// The working space of one file-system operation: the directory entry found
// (or the mount's boot-parameter block), the 8.3 name looked for, and the walk
// of a path's search, and the count of a read or write. It lies in the state
// block right before FATFS, not on the stack, so that the deep chains of
// calls under a search stand on small frames; nothing in it lasts from one
// operation to the next. It is word aligned (ld_aligned_word).
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
// The FAT sector being read and changed in the block a caller lends (grow.cpp).
struct FatWindow {
    uint8_t* block;
    uint32_t sector;    // of the FAT, from its start; NO_SECTOR while none is in the block
    int32_t free_delta; // clusters given back less clusters taken
    bool dirty;
    bool failed; // a read or write of the card failed: nothing more is written
};
#endif

struct FatScratch {
    union {
        uint8_t bpb[37];
        struct {
            uint8_t entry[32];
            uint8_t name[12]; // 11 name bytes, then whether the segment is the path's last
        } found;
#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
        // Over the entry found, which is done with by the time the FAT
        // changes, and clear of the name, which a file made but not yet put
        // in its directory still needs: in the working space rather than in
        // the frames of the FAT's deepest calls, each of which it spares a
        // pointer argument.
        FatWindow window;
#endif
    };
    DIR walk;
    // Bytes the last transfer moved: kept here rather than behind a pointer
    // into the caller's frame, so that its callers need no local of their
    // own (16 bytes less stack under every read and write).
    uint32_t moved;
};

#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
static_assert(sizeof(FatWindow) <= sizeof(FatScratch::found.entry), "the window leaves the name alone");
#endif

inline FatScratch* scratch_of(FATFS* fs) { return reinterpret_cast<FatScratch*>(fs) - 1; }

struct FILINFO {
    uint32_t fsize;
    uint16_t fdate;
    uint16_t ftime;
    uint8_t fattrib;
    char fname[13];
};
static_assert(sizeof(FILINFO) == 24, "FILINFO is 24 bytes");

// Helpers.
void mem_set(void* dst, int val, uint32_t cnt);
uint32_t mystrlen(const char* p);

// Volume mount.
uint8_t check_fs(uint8_t* buf, uint32_t sect);
FRESULT pf_mount(FATFS* fs);

// Cluster chain and sector mapping.
constexpr uint32_t FAT32_MAX_ENTRIES = 0x0FFFFFF7;
// Byte offset in the FAT of the entry of cluster clst, for a FAT of that type.
uint32_t fat_offset(uint32_t type, uint32_t clst);
// get_fat, chain_next and cluster_at answer 1 for a broken chain (an entry that cannot be read,
// a loop, a cluster out of range); callers test for a result below 2.
uint32_t get_fat(FATFS* fs, uint32_t clst, uint8_t* buf);
uint32_t chain_next(FATFS* fs, uint32_t clst, uint32_t sector_offset);
// The cluster of the open file's cluster `index` (0 is org_clust); below 2 when the chain is broken.
uint32_t cluster_at(FATFS* fs, uint32_t index);
uint32_t clust2sect(FATFS* fs, uint32_t clst);
// The first cluster of the entry found (the working space's found.entry).
uint32_t get_clust(FATFS* fs);

// Names, directory walking and path resolution.
// The 8.3 name of the path's first segment into name83 (11 bytes, then
// whether the segment is the path's last); returns the path after it.
const char* create_name(uint8_t* name83, const char* path);
FRESULT dir_rewind(FATFS* fs, DIR* dir);
FRESULT dir_next(FATFS* fs, DIR* dir);
// The entry found goes into the working space (found.entry).
FRESULT dir_find(FATFS* fs, DIR* dir);
FRESULT follow_path(FATFS* fs, DIR* dir, const char* path);
// Closes the open file and, on a mounted volume, walks `path` from the root
// with the working space's walk: the entry found is its found.entry.
FRESULT find_named(FATFS* fs, const char* path);

// The open file.
FRESULT pf_open(FATFS* fs, const char* path);
// Makes the file that starts at cluster `first` and has `size` bytes the open
// file, at 0, with only its first cluster known of its chain.
void open_file(FATFS* fs, uint32_t first, uint32_t size);
// Of the open file's chain, only its first cluster is known from here on.
void forget_chain(FATFS* fs);
FRESULT pf_read(FATFS* fs, void* buff, uint32_t btr, uint32_t* br);
FRESULT pf_lseek(FATFS* fs, uint32_t ofs);
FRESULT pf_write(FATFS* fs, const void* buff, uint32_t btw, uint32_t* bw);

// Making, growing, shrinking and removing files (only in the image that does;
// `block` is the 512 bytes the caller lends for the FAT and directory sectors).
// Opens the file at `path`; one that does not exist yet is opened empty, and
// pf_commit later puts its entry in its directory.
FRESULT pf_make(FATFS* fs, const char* path);
// Writes the open file's size and first cluster into its entry.
FRESULT pf_commit(FATFS* fs, uint8_t* block);
// Links clusters for `size` bytes to the open file's chain; the size is the
// file's from here on, but its entry gets it only at pf_commit.
FRESULT pf_grow(FATFS* fs, uint32_t size, uint8_t* block);
// The open file becomes `size` bytes long, smaller than now: its entry first,
// then the clusters past that end go back.
FRESULT pf_shrink(FATFS* fs, uint32_t size, uint8_t* block);
// Removes the file at `path`, never a directory or a read-only file.
FRESULT pf_unlink(FATFS* fs, const char* path, uint8_t* block);

// Directory listing.
FRESULT pf_opendir(FATFS* fs, DIR* dir, const char* path);
FRESULT pf_readdir(FATFS* fs, DIR* dir, FILINFO* fno);
FRESULT dir_read(FATFS* fs, DIR* dir, uint8_t* entry);
void get_fileinfo(DIR* dir, const uint8_t* entry, FILINFO* fno);
