#include "card_access.h"
#include "diskio.h"
#include "module_assert.h"
#include "sd_protocol.h"
#include "spi_stream.h"

namespace {

// An SDHC card may take up to 100 ms to start a read block (SD Physical Layer
// Simplified Specification, read access time). Each poll is one byte on the
// bus, 48 peripheral clocks at SPI2BRG 2: 2^17 polls last 125.8 ms at a 50 MHz
// peripheral bus and 157.3 ms at 40 MHz, and longer at any slower clock.
constexpr uint32_t TOKEN_POLLS = 1u << 17;
constexpr uint32_t BLOCK_WITH_CRC = BLOCK_BYTES + BLOCK_CRC_BYTES;

// Waits for the start of the data block; false on a time-out or an error token.
bool wait_data_token() {
    uint8_t rc;
    uint32_t polls = TOKEN_POLLS;
    do {
        rc = rcv_spi();
    } while (rc == BUS_IDLE && --polls);
    return rc == DATA_TOKEN;
}

// Clocks the data block and its CRC, keeps `count` bytes from `offset` in
// `buff`, and checks the CRC over the whole block whatever part is kept. A
// full FIFO of bytes is queued first and one more after each byte taken, so
// the bus keeps shifting while the CPU works on the bytes before, and never
// more are in flight than the receive FIFO holds. With read_run(width) in
// `count` it also counts the little-endian words of that width, from
// `offset` on, that follow the kept ones in the sector and go on counting up
// by one from the last kept word. Returns 0 when a byte arrived changed, else
// that count + 1.
[[gnu::noinline]] MIPS32_CODE uint32_t receive_block(uint8_t* buff, uint32_t offset, uint32_t count) {
    uint32_t width = count >> READ_RUN_SHIFT;
    count &= (1u << READ_RUN_SHIFT) - 1;
    // disk_readp refused anything else: the bytes kept lie in this block.
    MODULE_ASSERT(count != 0 && offset < BLOCK_BYTES && count <= BLOCK_BYTES - offset);
    uint32_t crc = 0;
    uint32_t word = 0;
    uint32_t last = 0;
    uint32_t run = 0;
    for (uint32_t n = 0; n < SPI2_FIFO_BYTES; n++) {
        reg_write(SPI2BUF, BUS_IDLE);
    }
    for (uint32_t n = 0; n < BLOCK_WITH_CRC; n++) {
        const uint32_t d = take_received();
        if (n + SPI2_FIFO_BYTES < BLOCK_WITH_CRC) {
            reg_write(SPI2BUF, BUS_IDLE);
        }
        const uint32_t k = n - offset;
        if (k < count) {
            buff[k] = static_cast<uint8_t>(d);
        }
        if (width != 0 && n >= offset && n < BLOCK_BYTES) {
            const uint32_t byte = k & (width - 1);
            word |= d << (8 * byte);
            if (byte == width - 1) {
                if (k >= count) {
                    if (word != last + 1) {
                        width = 0; // the line ends here
                    } else {
                        run++;
                    }
                }
                last = word;
                word = 0;
            }
        }
        crc = crc16_step(crc, d);
    }
    return crc == 0 ? run + 1 : 0;
}

} // namespace

uint32_t disk_readp(uint8_t* buff, uint32_t sector, uint32_t offset, uint32_t count) {
    const uint32_t bytes = count & ((1u << READ_RUN_SHIFT) - 1);
    // Nothing outside one sector, or from a sector the card cannot address,
    // can be delivered, and there is nowhere to put it without a buffer:
    // refuse before the card sees anything.
    if (buff == nullptr || bytes == 0 || offset >= BLOCK_BYTES || bytes > BLOCK_BYTES - offset) {
        return RES_PARERR;
    }
    const uint32_t sent = send_block_cmd(CMD17, sector);
    if (sent == NOT_ADDRESSABLE) {
        return RES_PARERR;
    }

    uint32_t res = RES_ERROR;
    if (sent == 0 && wait_data_token()) {
        const uint32_t got = receive_block(buff, offset, count);
        if (got != 0) {
            res = (got - 1) << READ_RUN_SHIFT;
        }
    }

    card_release();
    return res;
}
