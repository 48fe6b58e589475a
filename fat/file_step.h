// Sector and cluster stepping shared by file reads and writes.
#pragma once

#include "pff.h"

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
