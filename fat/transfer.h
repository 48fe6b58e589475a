// Moving the open file's bytes: the loop of every read and write, and the
// step to a cluster and sector that it shares with the seek (locate).
#pragma once

#include "fat_fs.h"
#include "fat_layout.h"

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

// Cluster `clst` of the open file becomes curr_clust, and its sector
// `sector_in_cluster`
// dsect; false, leaving both as they were, when clst is no data cluster.
bool locate(FATFS* fs, uint32_t clst, uint32_t sector_in_cluster);

enum class Transfer : uint8_t { Read, Write };

// The body of pf_read and pf_write, and of every byte the commands move. Its
// three jobs, by direction and n (a skip is no job of its own: pf_lseek moves
// fptr without the card):
// - read (n > 0): up to n bytes from fptr on into p, never past the file's
//   end, each piece a partial read of one sector;
// - write (n > 0): up to n bytes from p into the file in place, streamed
//   sector by sector; a sector is started when fptr reaches its head and
//   finished when fptr reaches its end;
// - finish (write, n = 0): ends a sector write in progress, its unsent rest
//   written as zeros.
// scratch_of(fs)->moved counts the bytes moved. Any card failure, or a null
// p, closes the file. fs must not be null.
//
// Two rules the command layer builds on (write_span in particular):
// - curr_clust holds the cluster of byte fptr - 1 (pf_lseek sets it so,
//   every sector entered keeps it so), and that cluster lies on one of the
//   two lines of the chain that cluster_at keeps. A sector that is not the first of
//   its cluster is then entered without a FAT read: its cluster is
//   curr_clust. Checked where it is used (last_byte_in).
// - A write that finds no sector write in progress starts at the head of the
//   sector holding fptr: fptr is moved back to it, so the caller supplies the
//   whole sector from its first byte. write_span reads a partly covered
//   sector, seeks back inside it and writes it whole from there.
FRESULT transfer(FATFS* fs, uint8_t* p, uint32_t n, Transfer direction);
