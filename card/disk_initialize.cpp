#include "card_access.h"
#include "diskio.h"
#include "hw.h"
#include "sd_commands.h"
#include "sfr.h"

namespace {

constexpr uint32_t HCS = 0x40000000;
constexpr uint32_t START_ATTEMPTS = 10000;
constexpr uint32_t START_DELAY_US = 100;

// Repeats a start-up command until the card leaves the idle state; false
// when it is still idle after the last attempt.
bool wait_ready(uint8_t cmd, uint32_t arg) {
    uint32_t tmr = START_ATTEMPTS;
    while (send_any_cmd(cmd, arg) != 0) {
        host_delay(START_DELAY_US);
        if (--tmr == 0) {
            return false;
        }
    }
    return true;
}

void read_trailer(uint8_t* ocr) {
    for (uint8_t n = 0; n < 4; n++) {
        ocr[n] = rcv_spi();
    }
}

uint8_t start_sd2() {
    uint8_t ocr[4];
    read_trailer(ocr);
    if (ocr[2] != 0x01 || ocr[3] != 0xAA) {
        return 0;
    }
    if (!wait_ready(ACMD41, HCS)) {
        return 0;
    }
    if (send_cmd(CMD58, 0) != 0) {
        return 0;
    }
    read_trailer(ocr);
    return static_cast<uint8_t>((ocr[0] & 0x40) ? (KIND_SD2 | KIND_BLOCK) : KIND_SD2);
}

uint8_t start_sd1_or_mmc() {
    uint8_t ty;
    uint8_t cmd;
    if (send_any_cmd(ACMD41, 0) <= 1) {
        ty = KIND_SD1;
        cmd = ACMD41;
    } else {
        ty = KIND_MMC;
        cmd = CMD1;
    }
    if (!wait_ready(cmd, 0)) {
        return 0;
    }
    if (send_cmd(CMD16, 512) != 0) {
        return 0;
    }
    return ty;
}

} // namespace

DSTATUS disk_initialize() {
    reg_write(SPI2BRG, SPI2BRG_SLOW);

    card_deselect();
    for (uint8_t n = 0; n < 10; n++) {
        rcv_spi();
    }

    uint8_t ty = 0;
    if (send_cmd(CMD0, 0) == 1) {
        if (send_cmd(CMD8, 0x1AA) == 1) {
            ty = start_sd2();
        } else {
            ty = start_sd1_or_mmc();
        }
    }

    *card_kind_word() = ty;
    card_deselect();
    rcv_spi();

    if (ty == 0) {
        return STA_NOINIT;
    }
    reg_write(SPI2BRG, SPI2BRG_FAST);
    return 0;
}
