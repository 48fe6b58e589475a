#include "card_access.h"
#include "diskio.h"
#include "sd_commands.h"

namespace {

constexpr uint32_t TOKEN_POLLS = 40000;
constexpr uint32_t BLOCK_WITH_CRC = 514;

// Waits for the start of the data block; false on a time-out or an error token.
bool wait_data_token() {
    uint8_t rc;
    uint32_t polls = TOKEN_POLLS;
    do {
        rc = rcv_spi();
    } while (rc == 0xFF && --polls);
    return rc == DATA_TOKEN;
}

} // namespace

DRESULT disk_readp(uint8_t* buff, uint32_t sector, uint32_t offset, uint32_t count) {
    // Nothing outside one sector, or from a sector the card cannot address,
    // can be delivered, and there is nowhere to put it without a buffer:
    // refuse before the card sees anything.
    if (buff == nullptr || count == 0 || offset >= 512 || count > 512 - offset || !card_addressable(sector)) {
        return RES_PARERR;
    }

    DRESULT res = RES_ERROR;
    if (send_cmd(CMD17, card_address(sector)) == 0 && wait_data_token()) {
        uint32_t bc = BLOCK_WITH_CRC - offset - count;
        for (uint32_t n = offset; n != 0; n--) {
            rcv_spi();
        }
        for (uint32_t n = 0; n < count; n++) {
            buff[n] = rcv_spi();
        }
        for (; bc != 0; bc--) {
            rcv_spi();
        }
        res = RES_OK;
    }

    card_deselect();
    rcv_spi();
    return res;
}
