// Overwriting the open file in place through the streamed sector write.
#include "file_step.h"
#include "pff.h"

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
