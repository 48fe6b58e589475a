// One loop for reads and writes: they step through sectors and clusters
// alike and differ only in the card calls around each piece. pf_read and
// pf_write are that loop with a count returned through a pointer.
#include "transfer.h"

#include "diskio.h"
#include "fat_layout.h"
#include "module_assert.h"

namespace {

FRESULT fail(FATFS* fs) {
    fs->flag = 0;
    return FR_DISK_ERR;
}

// Called when fptr begins a sector: its cluster and sector become current.
// Inside a cluster that is curr_clust. At a cluster's start it is looked up;
// the cluster the file stands in is always on the line cluster_at knows last,
// so a write that restarts at the head of its sector reads nothing there.
bool enter_sector(FATFS* fs) {
    const uint32_t sector = fs->fptr / SECTOR_SIZE;
    const uint32_t sector_in_cluster = sector & (fs->csize - 1u);
    MODULE_ASSERT(sector_in_cluster == 0 || last_byte_in(fs, fs->curr_clust));
    return locate(fs, sector_in_cluster == 0 ? cluster_at(fs, sector / fs->csize) : fs->curr_clust,
                  sector_in_cluster);
}

} // namespace

bool locate(FATFS* fs, uint32_t clst, uint32_t sector_in_cluster) {
    // A broken chain (below 2) or an end-of-chain value fails here.
    const uint32_t sect = clust2sect(fs, clst);
    if (sect == 0) {
        return false;
    }
    fs->curr_clust = clst;
    fs->dsect = sect + sector_in_cluster;
    return true;
}

FRESULT transfer(FATFS* fs, uint8_t* p, uint32_t n, Transfer direction) {
    const bool writing = direction == Transfer::Write;
    uint32_t* const done = &scratch_of(fs)->moved;
    *done = 0;
    if (!(fs->flag & FLAG_OPEN)) {
        return FR_NOT_OPENED;
    }
    if (writing && n == 0) {
        // Finish request: close a partly filled sector, the rest becomes filler.
        if ((fs->flag & FLAG_WRITING) && disk_writep(nullptr, 0) != RES_OK) {
            return fail(fs);
        }
        fs->flag = static_cast<uint8_t>(fs->flag & ~FLAG_WRITING);
        return FR_OK;
    }
    // Nowhere to put the bytes, or nothing to take them from (the sector
    // stream would take a null source for the start of another sector):
    // refused before the card moves, and the file ends as on any disk error.
    if (!p) {
        return fail(fs);
    }

    // Without a sector in progress, writing starts at the head of the sector
    // holding fptr.
    if (writing && !(fs->flag & FLAG_WRITING)) {
        fs->fptr &= ~(SECTOR_SIZE - 1);
    }
    const uint32_t remain = fs->fsize - fs->fptr;
    if (n > remain) {
        n = remain;
    }
    while (n) {
        const uint32_t ofs = fs->fptr % SECTOR_SIZE;
        if (ofs == 0) {
            if (!enter_sector(fs) || (writing && disk_writep(nullptr, fs->dsect) != RES_OK)) {
                return fail(fs);
            }
            if (writing) {
                fs->flag |= FLAG_WRITING;
            }
        }
        uint32_t cnt = SECTOR_SIZE - ofs;
        if (cnt > n) {
            cnt = n;
        }
        if ((writing ? uint32_t{disk_writep(p, cnt)} : disk_readp(p, fs->dsect, ofs, cnt)) != RES_OK) {
            return fail(fs);
        }
        p += cnt;
        fs->fptr += cnt;
        *done += cnt;
        if (writing && fs->fptr % SECTOR_SIZE == 0) {
            if (disk_writep(nullptr, 0) != RES_OK) {
                return fail(fs);
            }
            fs->flag = static_cast<uint8_t>(fs->flag & ~FLAG_WRITING);
        }
        n -= cnt;
    }
    return FR_OK;
}

FRESULT pf_read(FATFS* fs, void* buff, uint32_t btr, uint32_t* br) {
    *br = 0;
    if (!fs) {
        return FR_NOT_ENABLED;
    }
    const FRESULT res = transfer(fs, static_cast<uint8_t*>(buff), btr, Transfer::Read);
    *br = scratch_of(fs)->moved;
    return res;
}

FRESULT pf_write(FATFS* fs, const void* buff, uint32_t btw, uint32_t* bw) {
    *bw = 0;
    if (!fs) {
        return FR_NOT_ENABLED;
    }
    // The bytes are only read: the shared loop takes one pointer type for both directions.
    const FRESULT res = transfer(fs, static_cast<uint8_t*>(const_cast<void*>(buff)), btw, Transfer::Write);
    *bw = scratch_of(fs)->moved;
    return res;
}
