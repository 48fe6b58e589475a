// Sector and cluster stepping shared by file reads and writes.
#pragma once

#include "pff.h"

// Called when fptr begins a sector: moves curr_clust on at a cluster start
// (unless the caller stands at a sector whose cluster is already current) and
// sets dsect. Returns false, leaving the file as it was, when the chain is broken.
bool enter_sector(FATFS* fs, bool cluster_known);
