// The read-only image on the emulator: the commands it lacks act as a command
// number outside the image's range does, even with a file open that each of
// them could change; the status command lists only the commands it has.
#include <gtest/gtest.h>

#include "e2e_bench.h"
#include "ram_layout.h"
#include "sdtypes.h"

namespace {

using e2e::Bench;
using e2e::bytes;

TEST(ReadOnlyImage, CommandsItLacksClockNothingPrintNothingAndChangeNothing) {
    Bench b;
    b.volume().put("/HELLO.TXT", bytes("Hello, card"));
    b.insert_card();
    b.board().set_program({"10 PRINT 1"});
    b.open("HELLO.TXT");
    b.read(2, 3);
    const std::vector<uint8_t> card = b.volume().bytes();
    const std::vector<uint8_t> state = b.board().ram_bytes(sim::RAM_STATE, sim::RAM_STATE_SIZE);
    const std::vector<uint8_t> pins = b.board().ram_bytes(sim::RAM_PIN_STATES, sim::PIN_COUNT * 4);

    // The name for a save, create or delete; the data for a write or an append.
    const std::vector<uint8_t> p1 = sim::counted("HELLO.TXT");
    for (int32_t mode : {MODE_WRITE, MODE_SAVE, MODE_CREATE, MODE_SET_SIZE, MODE_APPEND, MODE_DELETE}) {
        SCOPED_TRACE("command " + std::to_string(mode));
        const sim::Returned r = b.call(mode, p1, 1, 5, 9);
        EXPECT_EQ(b.console(), "");
        EXPECT_TRUE(b.board().bus().empty());
        EXPECT_TRUE(b.board().loaded_programs().empty());
        EXPECT_EQ(r.mode, mode);
        EXPECT_EQ(r.p2, 1);
        EXPECT_EQ(r.p3, 5);
        EXPECT_EQ(r.p4, 9);
        EXPECT_TRUE(std::equal(p1.begin(), p1.end(), r.p1.begin()));
        EXPECT_EQ(b.board().ram_bytes(sim::RAM_STATE, sim::RAM_STATE_SIZE), state);
        EXPECT_EQ(b.board().ram_bytes(sim::RAM_PIN_STATES, sim::PIN_COUNT * 4), pins);
    }
    EXPECT_EQ(b.volume().bytes(), card);
    EXPECT_EQ(b.read(-1, 4), bytes(", ca")) << "the file stays open where it was";

    const sim::Returned s = b.call(MODE_STATUS, {0, 0, 0, 0});
    const uint32_t mask = s.p1[0] | s.p1[1] << 8 | s.p1[2] << 16 | s.p1[3] << 24;
    EXPECT_EQ(mask, 1u << 0 | 1u << 1 | 1u << 2 | 1u << 4 | 1u << 5 | 1u << 6 | 1u << 8);
}

} // namespace
