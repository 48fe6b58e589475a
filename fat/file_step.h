// Sector and cluster stepping shared by file reads and writes.
#pragma once

#include "fat_layout.h"
#include "pff.h"

// Whether `clst` is the cluster of the open file's byte fptr - 1 as the lines
// of its chain that cluster_at knows tell it (true at fptr 0, which has no
// such byte). That cluster is always on one of them, so false also when it is
// on neither. Reads nothing: only for the checks of the PC build.
inline bool last_byte_in(const FATFS* fs, uint32_t clst) {
    if (fs->fptr == 0) {
        return true;
    }
    const uint32_t index = (fs->fptr - 1) / SECTOR_SIZE / fs->csize;
    if (index <= fs->head_last) {
        return clst == fs->org_clust + index;
    }
    return index >= fs->run_first && index <= fs->run_last && clst == fs->run_clust + (index - fs->run_first);
}

// Cluster `clst` of the open file becomes curr_clust, and its sector `cs`
// dsect; false, leaving both as they were, when clst is no data cluster.
bool locate(FATFS* fs, uint32_t clst, uint32_t cs);

enum class Transfer : uint8_t { Read, Write };

// The body of pf_read and pf_write: moves up to n bytes between p and the
// open file from fptr on, piece by piece within sectors, stepping sectors and
// clusters as it goes; scratch_of(fs)->moved counts the bytes moved. A write
// with n = 0 finishes a sector write in progress. Any card failure closes the
// file. fs must not be null.
FRESULT transfer(FATFS* fs, uint8_t* p, uint32_t n, Transfer direction);
