// A short look at the module on the virtual board: the register writes of the
// entry step and the pin calls of the chip-select command.
#include <cstdio>

#include "native_cpu.h"
#include "sdtypes.h"

namespace {

const char* register_name(uint32_t address) {
    switch (address) {
    case 0xBF805A00: return "SPI2CON";
    case 0xBF805A10: return "SPI2STAT";
    case 0xBF805A20: return "SPI2BUF";
    case 0xBF805A30: return "SPI2BRG";
    case 0xBF805A40: return "SPI2CON2";
    case 0xBF80FA90: return "SDI2R";
    case 0xBF80FB60: return "RPB13R";
    default: return "?";
    }
}

} // namespace

int main() {
    sim::Board board;
    sim::NativeCpu cpu;
    std::printf("call main(MODE_SET_CS, p1 = 0x0107)\n");
    sim::invoke(board, cpu, {MODE_SET_CS, {0x07, 0x01, 0x00, 0x00}});
    std::printf("register writes:\n");
    for (const sim::RegWrite& w : board.reg_writes()) {
        std::printf("  %-8s <- 0x%04X\n", register_name(w.address), w.value);
    }
    std::printf("host pin calls:\n");
    for (const sim::PinCall& c : board.pin_calls()) {
        if (c.kind == sim::PinCall::Config) {
            std::printf("  host_pin_config(%d, %d, %d)\n", c.pin, c.code, c.arg);
        } else {
            std::printf("  host_pin_write(%d, %d)\n", c.pin, c.code);
        }
    }
    std::printf("SDCARD_CS = %d\n", board.chip_select_option());
    return 0;
}
