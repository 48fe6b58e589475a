#include "sdcard.h"

#include "commands.h"
#include "errstring.h"
#include "host.h"
#include "image_features.h"
#include "sfr.h"
#include "unaligned.h"

namespace {

// The commands of this image that run the bus set-up.
constexpr uint32_t IMAGE_NAMING_COMMANDS = IMAGE_COMMANDS & NAMING_COMMANDS;
// The commands whose result the status command reports afterwards.
constexpr uint32_t REPORTED_COMMANDS = IMAGE_COMMANDS & ~(1u << MODE_STATUS);

// The buffer mode may change only while SPI2 is off, and switching it off
// empties both FIFOs of whatever another user of SPI2 left in them. A byte
// still unread after that is taken here, so that no byte of before the call
// can be taken for the card's.
[[gnu::noinline]] MIPS32_CODE void restart_spi2() {
    reg_write(SPI2CON, 0);
    reg_write(SPI2CON2, SPI2CON2_ERROR_EVENTS);
    reg_write(SPI2BRG, SPI2BRG_FAST);
    reg_write(SPI2CON, SPI2CON_MASTER_MODE3);
    while ((reg_read(SPI2STAT) & SPI2STAT_SPIRBE) == 0) {
        reg_read(SPI2BUF);
    }
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

void mode_status(const STATE_BLOCK* sb, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t* p4) {
    const FATFS* const fs = &sb->FatFs;
    const bool open = (fs->flag & FLAG_OPEN) != 0;
    *p2 = open ? static_cast<int32_t>(fs->fptr) : -1;
    *p3 = open ? static_cast<int32_t>(fs->fsize) : -1;
    *p4 = sb->last_result;
    *reinterpret_cast<unaligned_u32*>(p1) = IMAGE_COMMANDS;
}

void mode_set_cs(const uint8_t* p1) {
    const int8_t pin = static_cast<int8_t>(p1[0]);
    host_options()->SDCARD_CS = pin;
    host_pin_config(pin, PIN_CODE_OUTPUT, 0);
    host_pin_config(pin, PIN_CODE_CHIP_SELECT, 0);
    host_pin_write(pin, PIN_DRIVE_HIGH);
}

extern "C" void sdcard_main(int32_t* mode, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t* p4) {
    // The command number lives in the host's memory (the interpreter's
    // variable). Two readings of it, on purpose: the entry steps below take
    // one copy, `command_number`, which holds because nothing the host does
    // in its services among them changes that memory; the dispatch reads it
    // again at every test through this volatile pointer, as the module has
    // from its first version. The volatile costs bytes: a plain pointer would
    // let the compiler keep one reading for both, 40 bytes less (measured on
    // the standard image, 64 on the growing one), which is worth it only
    // once it is settled that no host changes the number during a call.
    volatile int32_t* const command = mode;

    restart_spi2();

    STATE_BLOCK* const sb = state_block();

    NameBuffer& name = sb->name;
    name.fn[0] = NO_NAME;
    name.fn[1] = 0;
    // The entry steps share one reading (see above): a register, not a load
    // before each test.
    const int32_t command_number = *command;
    const uint32_t bit = command_bit(command_number);
    if ((bit & REPORTED_COMMANDS) != 0) {
        sb->last_result = FR_OK;
    }
    if ((bit & IMAGE_NAMING_COMMANDS) != 0) {
        build_name(name, p1);
        if (command_number == MODE_LOAD) {
            host_prepare_load();
        }
        bus_setup(sb);
        // The file that a load or a save works on is opened here, as for
        // MODE_OPEN: the open's deep calls then stand on main's frame alone.
        if (IMAGE_GROWS && (command_number == MODE_CREATE || command_number == MODE_SAVE)) {
            open_or_create(sb, name, command_number == MODE_CREATE);
        } else if (IMAGE_GROWS && command_number == MODE_DELETE) {
            delete_named(sb, name);
        } else if (command_number != MODE_OPENDIR) {
            open_named_file(sb, name);
        }
    }

    if (*command == MODE_READ) {
        mode_read(sb, p1, p2, p3, p4);
    } else if (IMAGE_WRITES && (*command == MODE_WRITE ||
                                (IMAGE_GROWS && (*command == MODE_SET_SIZE || *command == MODE_APPEND)))) {
        // The entry steps' reading of the command stands: nothing between
        // it and here calls the host.
        mode_write(sb, p1, p2, p3, command_number);
    } else if (*command == MODE_OPENDIR) {
        mode_opendir(sb, name);
    } else if (*command == MODE_READDIR) {
        mode_readdir(sb, p1);
    } else if (*command == MODE_LOAD) {
        mode_load(sb);
    } else if (IMAGE_WRITES && *command == MODE_SAVE) {
        mode_save(sb);
    } else if (*command == MODE_SET_CS) {
        mode_set_cs(p1);
    } else if (*command == MODE_STATUS) {
        mode_status(sb, p1, p2, p3, p4);
    }
    // Keeps the last call of each command from becoming a tail call: each
    // would repeat the entry point's epilogue of eleven loads (44 bytes).
    asm volatile("");
}
