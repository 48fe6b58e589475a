// One loop for reads and writes: they step through sectors and clusters
// alike and differ only in the card calls around each piece.
#include "file_step.h"

#include "diskio.h"
#include "fat_layout.h"

namespace {

FRESULT fail(FATFS* fs) {
    fs->flag = 0;
    return FR_DISK_ERR;
}

// Called when fptr begins a sector: moves curr_clust on at a cluster start
// (unless the caller stands at a sector whose cluster is already current) and
// sets dsect. Returns false, leaving the file as it was, when the chain is broken.
bool enter_sector(FATFS* fs, bool cluster_known) {
    const uint8_t cs = static_cast<uint8_t>((fs->fptr / SECTOR_SIZE) & (fs->csize - 1u));
    if (cs == 0 && !cluster_known) {
        const uint32_t clst = cluster_at(fs, fs->fptr / SECTOR_SIZE / fs->csize);
        if (clst < 2) {
            return false;
        }
        fs->curr_clust = clst;
    }
    // An end-of-chain value taken above fails here.
    const uint32_t sect = clust2sect(fs, fs->curr_clust);
    if (sect == 0) {
        return false;
    }
    fs->dsect = sect + cs;
    return true;
}

} // namespace

[[gnu::noinline]] FRESULT transfer(FATFS* fs, uint8_t* p, uint32_t n, Transfer direction) {
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
    // holding fptr; that sector lies in curr_clust, so its cluster is known.
    bool cluster_known = false;
    if (writing && !(fs->flag & FLAG_WRITING) && fs->fptr % SECTOR_SIZE != 0) {
        fs->fptr &= ~(SECTOR_SIZE - 1);
        cluster_known = true;
    }
    const uint32_t remain = fs->fsize - fs->fptr;
    if (n > remain) {
        n = remain;
    }
    while (n) {
        const uint32_t ofs = fs->fptr % SECTOR_SIZE;
        if (ofs == 0) {
            if (!enter_sector(fs, cluster_known) || (writing && disk_writep(nullptr, fs->dsect) != RES_OK)) {
                return fail(fs);
            }
            if (writing) {
                fs->flag |= FLAG_WRITING;
            }
        }
        cluster_known = false;
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
