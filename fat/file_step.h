// Sector and cluster stepping shared by file reads and writes.
#pragma once

#include "pff.h"

// Skip moves fptr as a read would, stepping the chain, but moves no bytes.
enum class Transfer : uint8_t { Read, Write, Skip };

// The body of pf_read and pf_write: moves up to n bytes between p and the
// open file from fptr on, piece by piece within sectors, stepping sectors and
// clusters as it goes; *done counts the bytes moved. A write with n = 0
// finishes a sector write in progress. A skip that starts past 0 starts at
// the head of the cluster curr_clust. Any card failure closes the file.
FRESULT transfer(FATFS* fs, uint8_t* p, uint32_t n, uint32_t* done, Transfer direction);
