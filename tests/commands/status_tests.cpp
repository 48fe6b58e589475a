// The status command: the open file's pointer and size, the first failed
// step of the last command, and the commands the image has.
#include <gtest/gtest.h>

#include "e2e_bench.h"
#include "image_features.h"
#include "sdtypes.h"

namespace {

using e2e::Bench;
using e2e::bytes;

struct Status {
    int32_t pointer, size, result;
    uint32_t commands;
};

Status status(Bench& b) {
    const sim::Returned r = b.call(MODE_STATUS, std::vector<uint8_t>(4, 0xEE), 7, 7, 7);
    EXPECT_EQ(b.console(), "");
    return {r.p2, r.p3, r.p4, static_cast<uint32_t>(r.p1[0] | r.p1[1] << 8 | r.p1[2] << 16 | r.p1[3] << 24)};
}

TEST(Status, TellsTheOpenFileAndTheFirstFailedStepOfTheLastCommand) {
    Bench b;
    b.volume().put("/HELLO.TXT", bytes("Hello, card"));
    b.insert_card();
    Status s = status(b); // nothing yet: no file, no failure
    EXPECT_EQ(s.pointer, -1);
    EXPECT_EQ(s.size, -1);
    EXPECT_EQ(s.result, FR_OK);
    EXPECT_EQ(s.commands, IMAGE_COMMANDS);

    b.open("HELLO.TXT");
    b.read(3, 4);
    s = status(b);
    EXPECT_EQ(s.pointer, 7);
    EXPECT_EQ(s.size, 11);
    EXPECT_EQ(s.result, FR_OK);
    EXPECT_EQ(status(b).pointer, 7) << "the status command leaves what it reports";

    b.open("NOPE.TXT"); // No File, then nothing is open
    b.read(0, 4);       // Not Opened
    s = status(b);
    EXPECT_EQ(s.pointer, -1);
    EXPECT_EQ(s.size, -1);
    EXPECT_EQ(s.result, FR_NOT_OPENED);
    b.open("NOPE.TXT");
    EXPECT_EQ(status(b).result, FR_NO_FILE);
    b.call(MODE_SET_CS, {testsupport::CARD_CS_PIN});
    EXPECT_EQ(status(b).result, FR_OK);
}

} // namespace
