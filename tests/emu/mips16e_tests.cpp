// The emulator on hand-written MIPS16e code (mips16e_probe.s): every form of
// SAVE and ADJSP in the stack figure, the engine's count of 2- and 4-byte
// instructions, a host service's return into MIPS16e code, and the refusal
// of an SFR access from it.
#include <gtest/gtest.h>

#include "chip_images.h"
#include "emu_cpu.h"

namespace {

TEST(Mips16e, StackCountAndHostReturnFollowTheCode) {
    emu::EmuCpu cpu(emu::EmuCpu::read_image(MIPS16E_PROBE_PATH), emutest::PLACE_HIGH);
    sim::Board board;
    sim::invoke(board, cpu, {0, {}});
    EXPECT_EQ(board.prints(), std::vector<std::string>{"MIPS16e\r\n"});
    EXPECT_EQ(cpu.last_call().stack_bytes, 8u + 128 - 8 + 136 + 1032 + 1024);
    EXPECT_EQ(cpu.last_call().instructions, 6u + 2 + 11 + 6); // main, then three MIPS16e blocks

    std::string fault;
    try {
        sim::invoke(board, cpu, {1, {}});
    } catch (const emu::EmuFault& e) {
        fault = e.what();
    }
    EXPECT_NE(fault.find("read of SFR 0xBF805A10 from MIPS16e code"), std::string::npos) << fault;
}

} // namespace
