#include "card_access.h"
#include "diskio.h"
#include "hw.h"
#include "sd_commands.h"
#include "sfr.h"
#include "spi_stream.h"

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
    return static_cast<uint8_t>(take_received());
}

uint8_t rcv_spi() { return xmit_spi(0xFF); }

[[gnu::noinline]] void card_pin(int32_t code) { host_pin_write(chip_select_pin(), code); }

[[gnu::noinline]] void card_release() {
    card_pin(PIN_DRIVE_HIGH);
    rcv_spi();
}

uint32_t send_cmd(uint8_t cmd, uint32_t arg) {
    // The deepest stack chain ends here, so no helper with a frame of its own
    // stands between this frame and the host's service.
    card_pin(PIN_DRIVE_HIGH);
    rcv_spi();
    card_pin(PIN_DRIVE_LOW);
    rcv_spi();

    xmit_spi(cmd);
    for (uint32_t shift = 32; shift != 0;) {
        shift -= 8;
        xmit_spi(static_cast<uint8_t>(arg >> shift));
    }
    xmit_spi(crc_byte(cmd));

    uint32_t res;
    uint32_t n = RESPONSE_TRIES;
    do {
        res = rcv_spi();
    } while ((res & 0x80) && --n);
    return res;
}

uint32_t send_any_cmd(uint8_t cmd, uint32_t arg) {
    if (cmd & APP_COMMAND) {
        const uint32_t res = send_cmd(CMD55, 0);
        if (res > 1) {
            return res;
        }
    }
    return send_cmd(static_cast<uint8_t>(cmd & ~APP_COMMAND), arg);
}

uint32_t send_block_cmd(uint8_t cmd, uint32_t sector) {
    if ((*card_kind_word() & KIND_BLOCK) == 0) {
        if (sector >= (1u << 23)) {
            return NOT_ADDRESSABLE;
        }
        sector <<= 9;
    }
    return send_cmd(cmd, sector);
}
