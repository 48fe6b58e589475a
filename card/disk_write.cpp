#include "card_access.h"
#include "diskio.h"
#include "sd_commands.h"
#include "spi_stream.h"

namespace {

constexpr uint8_t DATA_ACCEPTED = 0x05;
constexpr uint32_t BUSY_DELAYS = 2000;
constexpr uint32_t BUSY_DELAY_US = 1000;

// Sends `count` bytes of `buff`, or zeros when it is null, each written
// while the one before it shifts; what the card sends back is of no use.
// One copy serves the data and the filler.
[[gnu::noinline]] void send_stream(const uint8_t* buff, uint32_t count) {
    for (uint32_t n = 0; n <= count; n++) {
        if (n != count) {
            reg_write(SPI2BUF, buff ? buff[n] : 0);
        }
        if (n != 0) {
            take_received();
        }
    }
}

DRESULT send_data(const uint8_t* buff, uint32_t sc) {
    uint16_t* const wc = write_count();
    uint32_t bc = sc & 0xFFFF;
    if (bc > *wc) {
        bc = *wc;
    }
    *wc = static_cast<uint16_t>(*wc - bc);
    send_stream(buff, bc);
    return RES_OK;
}

DRESULT start_block(uint32_t sector) {
    const uint32_t res = send_block_cmd(CMD24, sector);
    if (res == NOT_ADDRESSABLE) {
        return RES_PARERR;
    }
    if (res != 0) {
        return RES_ERROR;
    }
    xmit_spi(0xFF);
    xmit_spi(DATA_TOKEN);
    *write_count() = 512;
    return RES_OK;
}

// The card holds data-in low while it stores the block; each busy byte is
// followed by one delay, and the wait gives up after the last of them.
bool wait_stored() {
    for (uint32_t delays = 0; delays < BUSY_DELAYS; delays++) {
        if (rcv_spi() == 0xFF) {
            return true;
        }
        host_delay(BUSY_DELAY_US);
    }
    return false;
}

DRESULT finish_block() {
    // The unsent rest of the block goes as zeros, then a CRC the card ignores.
    send_stream(nullptr, *write_count() + 2u);
    DRESULT res = RES_ERROR;
    if ((rcv_spi() & 0x1F) == DATA_ACCEPTED && wait_stored()) {
        res = RES_OK;
    }
    card_release();
    return res;
}

} // namespace

DRESULT disk_writep(const uint8_t* buff, uint32_t sc) {
    if (buff != nullptr) {
        return send_data(buff, sc);
    }
    if (sc != 0) {
        return start_block(sc);
    }
    return finish_block();
}
