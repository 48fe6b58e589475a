// Overwriting the open file in place through the streamed sector write.
#include "diskio.h"
#include "fat_layout.h"
#include "file_step.h"
#include "pff.h"

namespace {

FRESULT fail(FATFS* fs) {
    fs->flag = 0;
    return FR_DISK_ERR;
}

} // namespace

FRESULT pf_write(FATFS* fs, const void* buff, uint32_t btw, uint32_t* bw) {
    const uint8_t* p = static_cast<const uint8_t*>(buff);

    *bw = 0;
    if (!fs) {
        return FR_NOT_ENABLED;
    }
    if (!(fs->flag & FLAG_OPEN)) {
        return FR_NOT_OPENED;
    }
    if (btw == 0) {
        // Finish request: close a partly filled sector, the rest becomes filler.
        if ((fs->flag & FLAG_WRITING) && disk_writep(nullptr, 0) != RES_OK) {
            return fail(fs);
        }
        fs->flag = static_cast<uint8_t>(fs->flag & ~FLAG_WRITING);
        return FR_OK;
    }
    // The sector stream would take a null source for the start of another sector.
    if (!p) {
        return fail(fs);
    }

    // Without a sector in progress, writing starts at the head of the sector
    // holding fptr; that sector lies in curr_clust, so its cluster is known.
    bool cluster_known = false;
    if (!(fs->flag & FLAG_WRITING) && fs->fptr % SECTOR_SIZE != 0) {
        fs->fptr &= ~(SECTOR_SIZE - 1);
        cluster_known = true;
    }
    const uint32_t remain = fs->fsize - fs->fptr;
    if (btw > remain) {
        btw = remain;
    }
    while (btw) {
        if (fs->fptr % SECTOR_SIZE == 0) {
            if (!enter_sector(fs, cluster_known)) {
                return fail(fs);
            }
            if (disk_writep(nullptr, fs->dsect) != RES_OK) {
                return fail(fs);
            }
            fs->flag |= FLAG_WRITING;
        }
        cluster_known = false;
        uint32_t wcnt = SECTOR_SIZE - fs->fptr % SECTOR_SIZE;
        if (wcnt > btw) {
            wcnt = btw;
        }
        if (disk_writep(p, wcnt) != RES_OK) {
            return fail(fs);
        }
        fs->fptr += wcnt;
        *bw += wcnt;
        if (fs->fptr % SECTOR_SIZE == 0) {
            if (disk_writep(nullptr, 0) != RES_OK) {
                return fail(fs);
            }
            fs->flag = static_cast<uint8_t>(fs->flag & ~FLAG_WRITING);
        }
        btw -= wcnt;
        p += wcnt;
    }
    return FR_OK;
}
