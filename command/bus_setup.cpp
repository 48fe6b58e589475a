// The set-up that every command naming a file or directory runs first: the
// card-bus pins, their routing, SPI2, the running write position and the mount.
#include "commands.h"
#include "errstring.h"
#include "host.h"
#include "sfr.h"

namespace {

constexpr uint32_t DEVID_IDENTITY_MASK = 0x0FFFFFFF;
constexpr uint32_t DEVID_44PIN = 0x0661A053;
constexpr uint32_t DEVID_44PIN_ALT = 0x0660A053;
constexpr uint32_t PPS_FIELD = 0xF;
constexpr uint32_t PPS_SPI2 = 4; // SDI2 from RB2, SDO2 on RB13

struct BusPins {
    int32_t data_out, data_in, clock;
};

// Chosen by code rather than a table: a table would be read at its link address.
BusPins bus_pins() {
    const uint32_t identity = reg_read(DEVID) & DEVID_IDENTITY_MASK;
    BusPins pins;
    if (identity == DEVID_44PIN || identity == DEVID_44PIN_ALT) {
        pins.data_out = 11;
        pins.data_in = 23;
        pins.clock = 15;
    } else {
        pins.data_out = 24;
        pins.data_in = 6;
        pins.clock = 26;
    }
    return pins;
}

void set_pps_field(uint32_t address) { reg_write(address, (reg_read(address) & ~PPS_FIELD) | PPS_SPI2); }

} // namespace

void open_named_file(STATE_BLOCK* sb, const NameBuffer& name) {
    if (!name.fits) {
        // The name was never copied, so there is nothing to look for; the
        // previous file must not stay open in its place.
        sb->FatFs.flag = 0;
        errstring(FR_NO_FILE);
        return;
    }
    errstring(pf_open(&sb->FatFs, name.path()));
}

void bus_setup(STATE_BLOCK* sb) {
    const BusPins pins = bus_pins();
    if (host_pin_states()[pins.data_out] != PIN_CODE_CHIP_SELECT) {
        host_pin_config(pins.data_out, PIN_CODE_OUTPUT, 0);
        host_pin_config(pins.data_out, PIN_CODE_BUS, 0);
        host_pin_config(pins.data_in, PIN_CODE_INPUT, 0);
        host_pin_config(pins.data_in, PIN_CODE_BUS, 0);
        host_pin_config(pins.clock, PIN_CODE_OUTPUT, 0);
        host_pin_config(pins.clock, PIN_CODE_BUS, 0);
    }
    set_pps_field(SDI2R);
    set_pps_field(RPB13R);
    reg_write(SPI2CON, SPI2CON_MASTER_MODE3);
    reg_write(SPI2CON2, SPI2CON2_IGNORE_ERRORS);
    sb->append_pos = 0;
    errstring(pf_mount(&sb->FatFs));
}
