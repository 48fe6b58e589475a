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

// The three card-bus pins packed one per byte in the order they are set up:
// data out, data in, clock. The low five bits of a byte are the pin, so every
// pin must be below 32. The top three bits say how far to shift the direction
// code of a pin the chip drives to get the one for that pin: by 0 for data
// out and clock, by 2 for data in, the pin the chip reads. The set-up loop
// takes a byte and shifts the word down until it is 0, so the clock pin, the
// top byte, must not be 0 or the loop would stop before it; data out and data
// in may be 0 (data in carries READ_PIN; a data-out pin 0 leaves its byte 0
// but the loop tests the whole word). The word and one loop instead of six
// plain calls with the pins picked by condition: 32 bytes (measured).
constexpr uint32_t PIN_NUMBER = 0x1F;
constexpr uint32_t DIRECTION_SHIFT = 5;
constexpr uint32_t READ_PIN = 2u << DIRECTION_SHIFT;
static_assert(PIN_CODE_OUTPUT >> 2 == PIN_CODE_INPUT);

template <uint32_t data_out, uint32_t data_in, uint32_t clock> constexpr uint32_t pack_pins() {
    static_assert(data_out <= PIN_NUMBER && data_in <= PIN_NUMBER && clock <= PIN_NUMBER, "pins below 32");
    static_assert(clock != 0, "the set-up loop ends at the first zero byte");
    return data_out | (data_in | READ_PIN) << 8 | clock << 16;
}

// What the host's pin state table holds for the data-out pin once the host
// itself has set the card bus up (its own SD card on SPI2): the code it
// passes for its own chip select. Then the pins are left as the host has them.
constexpr int32_t PIN_STATE_HOST_BUS = PIN_CODE_CHIP_SELECT;

// Chosen by code rather than a table: a table would be read at its link address.
uint32_t bus_pins() {
    const uint32_t identity = reg_read(DEVID) & DEVID_IDENTITY_MASK;
    if (identity == DEVID_44PIN || identity == DEVID_44PIN_ALT) {
        return pack_pins<11, 23, 15>();
    }
    return pack_pins<24, 6, 26>();
}

void set_pps_field(uint32_t address) { reg_write(address, (reg_read(address) & ~PPS_FIELD) | PPS_SPI2); }

} // namespace

void open_named_file(STATE_BLOCK* sb, const NameBuffer& name) {
    if (!name.fits()) {
        // The name was never copied, so there is nothing to look for; the
        // previous file must not stay open in its place.
        sb->FatFs.flag = 0;
        errstring(FR_NO_FILE);
        return;
    }
    errstring(pf_open(&sb->FatFs, name.path()));
}

void bus_setup(STATE_BLOCK* sb) {
    uint32_t pins = bus_pins();
    if (host_pin_states()[pins & PIN_NUMBER] != PIN_STATE_HOST_BUS) {
        // Each pin in turn: its direction, then the bus.
        for (; pins != 0; pins >>= 8) {
            const auto pin = static_cast<int32_t>(pins & PIN_NUMBER);
            host_pin_config(pin, PIN_CODE_OUTPUT >> ((pins & 0xFF) >> DIRECTION_SHIFT), 0);
            host_pin_config(pin, PIN_CODE_BUS, 0);
        }
    }
    set_pps_field(SDI2R);
    set_pps_field(RPB13R);
    reg_write(SPI2CON, SPI2CON_MASTER_MODE3);
    reg_write(SPI2CON2, SPI2CON2_ERROR_EVENTS);
    sb->append_pos = 0;
    errstring(pf_mount(&sb->FatFs));
}
