#include "card_access.h"
#include "diskio.h"
#include "sd_commands.h"
#include "spi_stream.h"

namespace {

// An SDHC card may take up to 100 ms to start a read block (SD Physical Layer
// Simplified Specification, read access time). Each poll is one byte on the
// bus, 48 peripheral clocks at SPI2BRG 2: 2^17 polls last 125.8 ms at a 50 MHz
// peripheral bus and 157.3 ms at 40 MHz, and longer at any slower clock.
constexpr uint32_t TOKEN_POLLS = 1u << 17;
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
// false when a byte arrived changed. A full FIFO of bytes is queued first and
// one more after each byte taken, so the bus keeps shifting while the CPU
// works on the bytes before, and never more are in flight than the receive
// FIFO holds.
bool receive_block(uint8_t* buff, uint32_t offset, uint32_t count) {
    uint32_t crc = 0;
    for (uint32_t n = 0; n < SPI2_FIFO_BYTES; n++) {
        reg_write(SPI2BUF, 0xFF);
    }
    for (uint32_t n = 0; n < BLOCK_WITH_CRC; n++) {
        const uint32_t d = take_received();
        if (n + SPI2_FIFO_BYTES < BLOCK_WITH_CRC) {
            reg_write(SPI2BUF, 0xFF);
        }
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
