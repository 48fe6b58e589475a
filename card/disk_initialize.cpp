#include "card_access.h"
#include "diskio.h"
#include "hw.h"
#include "sd_protocol.h"
#include "sfr.h"

namespace {

constexpr uint32_t START_ATTEMPTS = 10000;
constexpr uint32_t START_DELAY_US = 100;

// Repeats a start-up command until the card leaves the idle state; false
// when it is still idle after the last attempt.
bool wait_ready(uint32_t ty) {
    uint32_t tmr = START_ATTEMPTS;
    while (send_any_cmd(ty == KIND_MMC ? CMD1 : ACMD41, ty == KIND_SD2 ? OCR_HCS : 0) != R1_READY) {
        host_delay(START_DELAY_US);
        if (--tmr == 0) {
            return false;
        }
    }
    return true;
}

// The four bytes after an R1 response (R3, R7), first byte in the top bits.
uint32_t read_trailer() {
    uint32_t word = 0;
    for (uint32_t n = 0; n < 4; n++) {
        word = (word << 8) | rcv_spi();
    }
    return word;
}

// Brings the card from idle to ready and returns its kind, 0 when it did not
// start. SD 2 cards answer CMD8 and start with ACMD41 announcing block
// addressing; SD 1 cards take ACMD41 too, MMC cards only CMD1.
uint32_t start_card() {
    if (send_cmd(CMD0, 0) != R1_IDLE) {
        return 0;
    }
    uint32_t ty;
    if (send_cmd(CMD8, IF_COND_CHECK) == R1_IDLE) {
        // The card echoes the voltage range and check pattern of CMD8.
        if ((read_trailer() & IF_COND_ECHO_MASK) != IF_COND_CHECK) {
            return 0;
        }
        ty = KIND_SD2;
    } else if (send_any_cmd(ACMD41, 0) <= R1_IDLE) {
        ty = KIND_SD1;
    } else {
        ty = KIND_MMC;
    }
    if (!wait_ready(ty)) {
        return 0;
    }
    // From here on the card refuses a command frame or a written block that a
    // flipped bit has changed, instead of acting on it. A card too old to know
    // CMD59 refuses it and checks nothing: its answer is of no consequence.
    send_cmd(CMD59, CRC_ON);
    if (ty == KIND_SD2) {
        if (send_cmd(CMD58, 0) != R1_READY) {
            return 0;
        }
        // The OCR's CCS bit, moved down to where KIND_BLOCK sits.
        ty |= (read_trailer() & OCR_CCS) / (OCR_CCS / KIND_BLOCK);
    } else if (send_cmd(CMD16, BLOCK_BYTES) != R1_READY) {
        return 0;
    }
    return ty;
}

} // namespace

DSTATUS disk_initialize() {
    reg_write(SPI2BRG, SPI2BRG_SLOW);

    // The power-up clocks with the card deselected: the release clocks the
    // first byte of them.
    card_release();
    for (uint32_t n = 1; n < POWER_UP_CLOCK_BYTES; n++) {
        rcv_spi();
    }

    const uint32_t ty = start_card();
    *card_kind_word() = ty;
    card_release();

    if (ty == 0) {
        return STA_NOINIT;
    }
    reg_write(SPI2BRG, SPI2BRG_FAST);
    return 0;
}
