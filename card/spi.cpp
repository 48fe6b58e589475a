#include "card_access.h"
#include "diskio.h"
#include "hw.h"
#include "sd_commands.h"
#include "sfr.h"

namespace {

constexpr uint32_t RESPONSE_TRIES = 10;

// The CRC byte follows from the command byte alone: CMD0 and CMD8 are only
// ever sent with the arguments these bytes are valid for, and the card checks
// no other CRC in SPI mode.
uint8_t crc_byte(uint8_t cmd) {
    if (cmd == CMD0) {
        return 0x95;
    }
    if (cmd == CMD8) {
        return 0x87;
    }
    return 0x01;
}

} // namespace

uint8_t xmit_spi(uint8_t d) {
    reg_write(SPI2BUF, d);
    while ((reg_read(SPI2STAT) & SPI2STAT_SRMT) == 0) {
    }
    return static_cast<uint8_t>(reg_read(SPI2BUF));
}

uint8_t rcv_spi() { return xmit_spi(0xFF); }

uint8_t send_cmd(uint8_t cmd, uint32_t arg) {
    card_deselect();
    rcv_spi();
    card_select();
    rcv_spi();

    xmit_spi(cmd);
    xmit_spi(static_cast<uint8_t>(arg >> 24));
    xmit_spi(static_cast<uint8_t>(arg >> 16));
    xmit_spi(static_cast<uint8_t>(arg >> 8));
    xmit_spi(static_cast<uint8_t>(arg));
    xmit_spi(crc_byte(cmd));

    uint8_t res;
    uint32_t n = RESPONSE_TRIES;
    do {
        res = rcv_spi();
    } while ((res & 0x80) && --n);
    return res;
}

uint8_t send_any_cmd(uint8_t cmd, uint32_t arg) {
    if (cmd & APP_COMMAND) {
        const uint8_t res = send_cmd(CMD55, 0);
        if (res > 1) {
            return res;
        }
    }
    return send_cmd(static_cast<uint8_t>(cmd & ~APP_COMMAND), arg);
}
