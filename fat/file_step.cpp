#include "file_step.h"

#include "fat_layout.h"

bool enter_sector(FATFS* fs, bool cluster_known) {
    const uint8_t cs = static_cast<uint8_t>((fs->fptr / SECTOR_SIZE) & (fs->csize - 1u));
    if (cs == 0 && !cluster_known) {
        const uint32_t clst = fs->fptr == 0
                                  ? fs->org_clust
                                  : chain_next(fs, fs->curr_clust, fs->fptr / SECTOR_SIZE - fs->csize);
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
