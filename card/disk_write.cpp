#include "card_access.h"
#include "diskio.h"
#include "image_features.h"
#include "sd_protocol.h"
#include "spi_stream.h"

namespace {

// A card holds data-in low while it stores a block: a fast card for 0.3 to
// 1 ms, a slow one for a few, and any card up to 250 ms (500 ms on SDXC) by
// the SD Physical Layer Simplified Specification. The wait first polls without
// a pause for as long as a fast card takes (1,024 bytes of 48 peripheral
// clocks: 0.98 ms at 50 MHz, 1.23 ms at 40 MHz), then polls once per 100 us
// delay, 20,000 times: it gives up after 2 s of delays plus those polls.
constexpr uint32_t BUSY_POLLS = 1024;
constexpr uint32_t BUSY_DELAYS = 20000;
constexpr uint32_t BUSY_DELAY_US = 100;

// Sends `count` bytes of `buff`, or zeros when it is null, and carries the
// block's CRC16 on over them; what the card sends back is of no use. Up to a
// full FIFO of bytes is queued ahead of the ones taken back, never more. One
// copy serves the data and the filler.
[[gnu::noinline]] MIPS32_CODE void send_stream(const uint8_t* buff, uint32_t count, uint16_t* crc_word) {
    uint32_t crc = *crc_word;
    uint32_t sent = 0;
    for (uint32_t n = 0; n < count; n++) {
        for (; sent < count && sent < n + SPI2_FIFO_BYTES; sent++) {
            reg_write(SPI2BUF, buff ? buff[sent] : 0);
        }
        take_received();
        crc = crc16_step(crc, buff ? buff[n] : 0);
    }
    *crc_word = static_cast<uint16_t>(crc);
}

DRESULT send_data(const uint8_t* buff, uint32_t count) {
    uint16_t* const wc = write_count();
    if (count > *wc) {
        count = *wc;
    }
    *wc = static_cast<uint16_t>(*wc - count);
    send_stream(buff, count, write_crc());
    return RES_OK;
}

// Inlined into both callers: its frame stood under the growing image's
// deepest chain (a FAT sector written while a file grows), which it took to
// the 320-byte budget; inlined, that chain is 16 bytes shorter for 68 bytes
// of code.
[[gnu::always_inline]] inline DRESULT start_block(uint32_t sector) {
    const uint32_t res = send_block_cmd(CMD24, sector);
    if (res == NOT_ADDRESSABLE) {
        return RES_PARERR;
    }
    if (res != 0) {
        return RES_ERROR;
    }
    xmit_spi(BUS_IDLE);
    xmit_spi(DATA_TOKEN);
    *write_count() = BLOCK_BYTES;
    *write_crc() = 0;
    return RES_OK;
}

bool wait_stored() {
    for (uint32_t n = 0; n < BUSY_POLLS + BUSY_DELAYS; n++) {
        if (rcv_spi() == BUS_IDLE) {
            return true;
        }
        if (n >= BUSY_POLLS) {
            host_delay(BUSY_DELAY_US);
        }
    }
    return false;
}

DRESULT finish_block() {
    // The unsent rest of the block goes as zeros, then the block's CRC.
    send_stream(nullptr, *write_count(), write_crc());
    const uint32_t crc = *write_crc();
    xmit_spi(static_cast<uint8_t>(crc >> 8));
    xmit_spi(static_cast<uint8_t>(crc));
    DRESULT res = RES_ERROR;
    if ((rcv_spi() & DATA_RESPONSE_MASK) == DATA_ACCEPTED && wait_stored()) {
        res = RES_OK;
    }
    card_release();
    return res;
}

} // namespace

#if SDCARD_IMAGE == SDCARD_IMAGE_GROWING
DRESULT disk_write_sector(uint32_t sector, const uint8_t* data) {
    if (start_block(sector) != RES_OK) {
        return RES_ERROR;
    }
    send_data(data, BLOCK_BYTES);
    return finish_block();
}
#endif

DRESULT disk_writep(const uint8_t* buff, uint32_t sc) {
    if (buff != nullptr) {
        return send_data(buff, sc);
    }
    if (sc != 0) {
        return start_block(sc);
    }
    return finish_block();
}
