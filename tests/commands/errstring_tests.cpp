// Messages of the result codes, byte for byte.
#include <gtest/gtest.h>

#include "errstring.h"
#include "native_cpu.h"

namespace {

TEST(Errstring, EveryCodePrintsItsTextOnce) {
    const char* expected[] = {"Disk Error\r\n", "Not Ready\r\n",   "No File\r\n",
                              "Not Opened\r\n", "Not Enabled\r\n", "No File System\r\n"};
    for (uint8_t code = 1; code <= 6; ++code) {
        sim::Board board;
        sim::BoardScope scope(board);
        errstring(code);
        ASSERT_EQ(board.prints().size(), 1u) << int(code);
        EXPECT_EQ(board.prints()[0], expected[code - 1]);
    }
}

TEST(Errstring, NoFileIsNineCharactersEndingInCarriageReturnLineFeed) {
    sim::Board board;
    sim::BoardScope scope(board);
    errstring(FR_NO_FILE);
    ASSERT_EQ(board.console().size(), 9u);
    EXPECT_EQ(board.console().substr(7), "\r\n");
}

TEST(Errstring, SuccessAndUnknownCodesPrintNothing) {
    sim::Board board;
    sim::BoardScope scope(board);
    for (int code : {0, 7, 8, 200, 255}) {
        errstring(static_cast<uint8_t>(code));
    }
    EXPECT_TRUE(board.prints().empty());
}

} // namespace
