// Reading the directory entry a walk stands at: one 32-byte piece of its sector.
#pragma once

#include "diskio.h"
#include "fat_fs.h"
#include "fat_layout.h"

inline bool read_entry(const DIR* dir, uint8_t* entry) {
    return disk_readp(entry, dir->sect, (dir->index % ENTRIES_PER_SECTOR) * DIR_ENTRY_SIZE, DIR_ENTRY_SIZE) ==
           RES_OK;
}
