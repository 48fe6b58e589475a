#include "sdcard.h"

#include "commands.h"
#include "errstring.h"
#include "host.h"
#include "sfr.h"

namespace {

bool names_a_file(int32_t mode) {
    return mode == MODE_OPEN || mode == MODE_OPENDIR || mode == MODE_LOAD || mode == MODE_SAVE;
}

} // namespace

void build_name(NameBuffer& name, const uint8_t* p1) {
    const uint32_t length = p1[0];
    const uint32_t copied = length <= FN_MAX_NAME ? length : 0;
    // The length byte comes along with the characters.
    for (uint32_t i = 0; i <= copied; ++i) {
        name.fn[i] = p1[i];
    }
    name.fn[copied + 1] = 0;
}

void mode_set_cs(const uint8_t* p1) {
    host_options()->SDCARD_CS = static_cast<int8_t>(p1[0]);
    host_pin_config(chip_select_pin(), PIN_CODE_OUTPUT, 0);
    host_pin_config(chip_select_pin(), PIN_CODE_CHIP_SELECT, 0);
    host_pin_write(chip_select_pin(), PIN_DRIVE_HIGH);
}

extern "C" void sdcard_main(int32_t* mode, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t* p4) {
    // The dispatch reads the command number afresh at every test, as the host
    // may share it.
    volatile int32_t* const command = mode;

    // The buffer mode may change only while SPI2 is off, and switching it off
    // empties both FIFOs of whatever another user of SPI2 left in them. A byte
    // still unread after that is taken here, so that no byte of before the
    // call can be taken for the card's.
    reg_write(SPI2CON, 0);
    reg_write(SPI2CON2, SPI2CON2_ERROR_EVENTS);
    reg_write(SPI2BRG, SPI2BRG_FAST);
    reg_write(SPI2CON, SPI2CON_MASTER_MODE3);
    while ((reg_read(SPI2STAT) & SPI2STAT_SPIRBE) == 0) {
        reg_read(SPI2BUF);
    }

    STATE_BLOCK* const sb = state_block();

    NameBuffer name;
    name.fn[0] = NO_NAME;
    name.fn[1] = 0;
    // The entry steps share one reading: the host's service calls among them
    // leave the command number as it is.
    const int32_t named = *command;
    if (names_a_file(named)) {
        build_name(name, p1);
        if (named == MODE_LOAD) {
            host_prepare_load();
        }
        bus_setup(sb);
        // The file that a load or a save works on is opened here, as for
        // MODE_OPEN: the open's deep calls then stand on main's frame alone.
        if (named != MODE_OPENDIR) {
            open_named_file(sb, name);
        }
    }

    if (*command == MODE_READ) {
        mode_read(sb, p1, p2, p3, p4);
    } else if (*command == MODE_WRITE) {
        mode_write(sb, p1, p2, p3);
    } else if (*command == MODE_OPENDIR) {
        mode_opendir(sb, name);
    } else if (*command == MODE_READDIR) {
        mode_readdir(sb, p1);
    } else if (*command == MODE_LOAD) {
        mode_load(sb);
    } else if (*command == MODE_SAVE) {
        mode_save(sb);
    } else if (*command == MODE_SET_CS) {
        mode_set_cs(p1);
    }
}
