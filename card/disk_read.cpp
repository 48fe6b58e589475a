#include "card_access.h"
#include "diskio.h"
#include "sd_commands.h"
#include "spi_stream.h"

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

// Clocks the data block and its CRC, keeps `count` bytes from `offset` in
// `buff`, and checks the CRC over the whole block whatever part is kept:
// false when a byte arrived changed.
bool receive_block(uint8_t* buff, uint32_t offset, uint32_t count) {
    uint32_t crc = 0;
    reg_write(SPI2BUF, 0xFF);
    for (uint32_t n = 0; n < BLOCK_WITH_CRC; n++) {
        if (n != BLOCK_WITH_CRC - 1) {
            reg_write(SPI2BUF, 0xFF);
        }
        const uint32_t d = take_received();
        if (n - offset < count) {
            buff[n - offset] = static_cast<uint8_t>(d);
        }
        crc = crc16_step(crc, d);
    }
    return crc == 0;
}

} // namespace

DRESULT disk_readp(uint8_t* buff, uint32_t sector, uint32_t offset, uint32_t count) {
    // Nothing outside one sector, or from a sector the card cannot address,
    // can be delivered, and there is nowhere to put it without a buffer:
    // refuse before the card sees anything.
    if (buff == nullptr || count == 0 || offset >= 512 || count > 512 - offset) {
        return RES_PARERR;
    }
    const uint32_t sent = send_block_cmd(CMD17, sector);
    if (sent == NOT_ADDRESSABLE) {
        return RES_PARERR;
    }

    DRESULT res = RES_ERROR;
    if (sent == 0 && wait_data_token() && receive_block(buff, offset, count)) {
        res = RES_OK;
    }

    card_release();
    return res;
}
