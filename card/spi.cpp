#include "card_access.h"
#include "diskio.h"
#include "hw.h"
#include "sd_protocol.h"
#include "sfr.h"
#include "spi_stream.h"

namespace {

constexpr uint32_t RESPONSE_TRIES = 10;

// One byte into the CRC7 of a command frame (polynomial x^7 + x^3 + 1), kept
// in bits 7..1 so that the frame's last byte is the CRC with the end bit set.
uint32_t crc7_step(uint32_t crc, uint32_t d) {
    for (uint32_t bit = 0; bit < 8; bit++) {
        const uint32_t in = (crc ^ d) & 0x80;
        crc = (crc << 1) & 0xFE;
        if (in != 0) {
            crc ^= CRC7_POLY_SHIFTED;
        }
        d <<= 1;
    }
    return crc;
}

// Drives chip select with `code`: PIN_DRIVE_LOW selects, PIN_DRIVE_HIGH
// deselects. The pin number is taken from the option record at every use, so
// a change between frames takes effect at the next one. Inlined: MIPS16e has
// no tail call, so a function of its own would put a frame under the
// deepest chain (24 bytes).
[[gnu::always_inline]] inline void card_pin(int32_t code) { host_pin_write(chip_select_pin(), code); }

} // namespace

MIPS32_CODE uint8_t xmit_spi(uint8_t d) {
    reg_write(SPI2BUF, d);
    return static_cast<uint8_t>(take_received());
}

MIPS32_CODE uint8_t rcv_spi() { return xmit_spi(BUS_IDLE); }

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

    // The command byte, the argument's bytes from the top, then the CRC: a card
    // that checks it (after CMD59, and always for CMD0 and CMD8) refuses a
    // frame changed on the way.
    uint32_t crc = 0;
    uint32_t d = cmd;
    for (uint32_t shift = 32;; shift -= 8) {
        xmit_spi(static_cast<uint8_t>(d));
        crc = crc7_step(crc, d);
        if (shift == 0) {
            break;
        }
        d = (arg >> (shift - 8)) & 0xFF;
    }
    xmit_spi(static_cast<uint8_t>(crc | FRAME_END_BIT));

    uint32_t res;
    uint32_t n = RESPONSE_TRIES;
    do {
        res = rcv_spi();
    } while ((res & R1_NOT_A_RESPONSE) && --n);
    return res;
}

uint32_t send_any_cmd(uint8_t cmd, uint32_t arg) {
    if (cmd & APP_COMMAND) {
        const uint32_t res = send_cmd(CMD55, 0);
        if (res > R1_IDLE) {
            return res;
        }
    }
    return send_cmd(static_cast<uint8_t>(cmd & ~APP_COMMAND), arg);
}
