// The entry step, the dispatch, the name buffer and the chip-select command.
#include <gtest/gtest.h>

#include <cstring>

#include "cfunctions.h"
#include "commands.h"
#include "native_cpu.h"
#include "sfr.h"

namespace {

using sim::Board;
using sim::Call;
using sim::NativeCpu;
using sim::PinCall;

// SPI2 switched off first: the buffer mode may change only then.
std::vector<sim::RegWrite> entry_writes() {
    return {{SPI2CON, 0}, {SPI2CON2, 0x0C00}, {SPI2BRG, 2}, {SPI2CON, 0x18060}};
}

bool same_writes(const std::vector<sim::RegWrite>& a, const std::vector<sim::RegWrite>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].address != b[i].address || a[i].value != b[i].value)
            return false;
    }
    return true;
}

// 9 to 12 are the growing image's; the standard image lacks them.
TEST(Entry, UnknownCommandsRunOnlyTheEntryStepAndChangeNoArgument) {
    for (int32_t mode : {9, 10, 11, 12, 13, 32, -1, 1000000, INT32_MIN}) {
        Board board;
        NativeCpu cpu;
        std::vector<uint8_t> p1 = {5, 'A', 'B', 'C', 'D', 'E'};
        sim::Returned r = sim::invoke(board, cpu, {mode, p1, 11, 22, 33});
        EXPECT_TRUE(same_writes(board.reg_writes(), entry_writes())) << mode;
        EXPECT_EQ(r.mode, mode);
        EXPECT_EQ(r.p2, 11);
        EXPECT_EQ(r.p3, 22);
        EXPECT_EQ(r.p4, 33);
        EXPECT_TRUE(std::equal(p1.begin(), p1.end(), r.p1.begin()));
        EXPECT_TRUE(board.pin_calls().empty());
        EXPECT_TRUE(board.console().empty());
        EXPECT_TRUE(board.bus().empty());
        EXPECT_EQ(board.prepare_load_calls(), 0);
        EXPECT_TRUE(board.faults().empty());
    }
}

TEST(Entry, SetChipSelectTakesTheLowByteAndMakesExactlyThreePinCalls) {
    Board board;
    NativeCpu cpu;
    sim::invoke(board, cpu, {MODE_SET_CS, {0x07, 0x01, 0x00, 0x00}});
    EXPECT_EQ(board.chip_select_option(), 7);
    const std::vector<PinCall> expected = {
        {PinCall::Config, 7, 8, 0}, {PinCall::Config, 7, 101, 0}, {PinCall::Write, 7, 6, 0}};
    EXPECT_EQ(board.pin_calls(), expected);
    EXPECT_FALSE(board.pin_low(7));
    EXPECT_TRUE(board.bus().empty());
    EXPECT_TRUE(same_writes(board.reg_writes(), entry_writes()));
}

TEST(Entry, SetChipSelectSignExtendsThePinNumber) {
    Board board;
    NativeCpu cpu;
    sim::invoke(board, cpu, {MODE_SET_CS, {0xFE, 0, 0, 0}});
    EXPECT_EQ(board.chip_select_option(), -2);
    ASSERT_EQ(board.pin_calls().size(), 3u);
    for (const PinCall& call : board.pin_calls()) {
        EXPECT_EQ(call.pin, -2);
    }
}

TEST(Entry, LoadPreparesTheHostEvenWithAnEmptyName) {
    Board board;
    NativeCpu cpu;
    sim::invoke(board, cpu, {MODE_LOAD, {0}});
    EXPECT_EQ(board.prepare_load_calls(), 1);
    for (int32_t mode : {MODE_OPEN, MODE_OPENDIR, MODE_SAVE, MODE_READ}) {
        Board other;
        sim::invoke(other, cpu, {mode, {0}});
        EXPECT_EQ(other.prepare_load_calls(), 0) << mode;
    }
}

// The name buffer sits between guard bytes that must survive every length byte.
struct GuardedName {
    uint8_t before[16];
    NameBuffer name;
    uint8_t after[16];
};

TEST(NameBuffer, FourteenCharactersFillItExactly) {
    GuardedName g;
    std::memset(&g, 0xAA, sizeof g);
    std::vector<uint8_t> p1 = sim::counted("ABCDEFGH.TXT/X");
    ASSERT_EQ(p1[0], 14);
    build_name(g.name, p1.data());
    EXPECT_TRUE(g.name.fits());
    EXPECT_EQ(std::memcmp(g.name.fn, p1.data(), 15), 0);
    EXPECT_EQ(g.name.fn[15], 0);
    EXPECT_STREQ(g.name.path(), "ABCDEFGH.TXT/X");
}

TEST(NameBuffer, EmptyNameGivesEmptyPath) {
    GuardedName g;
    std::memset(&g, 0xAA, sizeof g);
    const uint8_t p1[] = {0, 'X', 'Y'};
    build_name(g.name, p1);
    EXPECT_TRUE(g.name.fits());
    EXPECT_STREQ(g.name.path(), "");
}

TEST(NameBuffer, OverlongNamesNeverWritePastTheBuffer) {
    for (int length : {15, 16, 127, 128, 255}) {
        GuardedName g;
        std::memset(&g, 0xAA, sizeof g);
        std::vector<uint8_t> p1(256, 'Q');
        p1[0] = static_cast<uint8_t>(length);
        build_name(g.name, p1.data());
        EXPECT_FALSE(g.name.fits()) << length;
        EXPECT_STREQ(g.name.path(), "") << length;
        for (uint8_t b : g.before)
            EXPECT_EQ(b, 0xAA);
        for (uint8_t b : g.after)
            EXPECT_EQ(b, 0xAA);
    }
}

} // namespace
