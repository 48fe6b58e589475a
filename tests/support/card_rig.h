// Wires a virtual card to a virtual board the way the module's bus set-up and
// chip-select command leave it, so tests can call the driver or the file
// system directly.
//
//   CardRig rig(sim::DiskImage::blank(64));      // SD v2 block-addressed card
//   ASSERT_EQ(disk_initialize(), 0);
//   rig.card.violations(), rig.image.write_log(), rig.board.bus() ...
#pragma once

#include <cstdint>
#include <utility>

#include "board.h"
#include "card_pin.h"
#include "cfunctions.h"
#include "disk_image.h"
#include "native_cpu.h"
#include "sd_card.h"
#include "sfr.h"

namespace testsupport {

// Pins, PPS and SPI2 as the bus set-up configures them, the chip-select pin
// recorded and raised as the chip-select command does, and `device` (may be
// null: no card in the socket) on the bus behind that pin.
inline void wire_card(sim::Board& board, sim::BusDevice* device, int8_t cs_pin = CARD_CS_PIN) {
    const sim::CardPins pins = board.card_pins();
    board.host_pin_config(pins.data_out, PIN_CODE_OUTPUT, 0);
    board.host_pin_config(pins.data_out, PIN_CODE_BUS, 0);
    board.host_pin_config(pins.data_in, PIN_CODE_INPUT, 0);
    board.host_pin_config(pins.data_in, PIN_CODE_BUS, 0);
    board.host_pin_config(pins.clock, PIN_CODE_OUTPUT, 0);
    board.host_pin_config(pins.clock, PIN_CODE_BUS, 0);
    board.reg_write(SDI2R, 4);
    board.reg_write(RPB13R, 4);
    board.reg_write(SPI2CON, SPI2CON_MASTER_MODE3);
    board.reg_write(SPI2CON2, SPI2CON2_ERROR_EVENTS);
    board.reg_write(SPI2BRG, SPI2BRG_FAST);

    board.set_chip_select_option(cs_pin);
    board.host_pin_config(cs_pin, PIN_CODE_OUTPUT, 0);
    board.host_pin_config(cs_pin, PIN_CODE_CHIP_SELECT, 0);
    board.host_pin_write(cs_pin, PIN_DRIVE_HIGH);
    board.attach(device, cs_pin); // also with no card: the bus record follows this pin
    board.clear_logs();
}

// A board with a card on it, bound to the module's native build for the rig's
// lifetime. Not copyable: the card refers to the image, the board to the card.
struct CardRig {
    explicit CardRig(sim::DiskImage disk, sim::SdCardConfig config = {}, int8_t cs_pin = CARD_CS_PIN)
        : image(std::move(disk)), card(image, config), scope(board) {
        wire_card(board, &card, cs_pin);
    }
    CardRig(const CardRig&) = delete;
    CardRig& operator=(const CardRig&) = delete;

    sim::Board board;
    sim::DiskImage image;
    sim::SdCard card;
    sim::BoardScope scope;
};

} // namespace testsupport
