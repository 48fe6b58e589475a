// The bus set-up that commands 1, 4, 6 and 7 run, the open of MODE_OPEN, and
// names too long for the name buffer.
#include <gtest/gtest.h>

#include "cfunctions.h"
#include "e2e_bench.h"
#include "ram_layout.h"
#include "sdtypes.h"
#include "sfr.h"
#include "state_offsets.h"

namespace {

using e2e::Bench;
using e2e::bytes;
using sim::PinCall;

std::vector<PinCall> config_calls(const sim::Board& board) {
    std::vector<PinCall> calls;
    for (const PinCall& c : board.pin_calls()) {
        if (c.kind == PinCall::Config)
            calls.push_back(c);
    }
    return calls;
}

std::vector<PinCall> six_calls(int32_t out, int32_t in, int32_t clock) {
    return {{PinCall::Config, out, 8, 0},  {PinCall::Config, out, 100, 0}, {PinCall::Config, in, 2, 0},
            {PinCall::Config, in, 100, 0}, {PinCall::Config, clock, 8, 0}, {PinCall::Config, clock, 100, 0}};
}

// The register writes from the first PPS write on: PPS, then SPI2 switched on again.
std::vector<std::pair<uint32_t, uint32_t>> writes_from_pps(const sim::Board& board) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    bool seen = false;
    for (const sim::RegWrite& w : board.reg_writes()) {
        seen = seen || w.address == SDI2R;
        if (seen && out.size() < 4)
            out.emplace_back(w.address, w.value);
    }
    return out;
}

struct PinSetCase {
    uint32_t devid;
    int32_t out, in, clock;
};

TEST(BusSetup, ChoosesThePinSetByIdentityWhateverTheRevision) {
    for (const PinSetCase& c : {PinSetCase{0x0661A053, 11, 23, 15}, PinSetCase{0x5661A053, 11, 23, 15},
                                PinSetCase{0xF660A053, 11, 23, 15}, PinSetCase{0x06610053, 24, 6, 26},
                                PinSetCase{0x3661A054, 24, 6, 26}}) {
        Bench b;
        b.volume().put("/HELLO.TXT", bytes("Hello, card"));
        b.insert_card();
        b.board().set_devid(c.devid);
        b.board().set_sdi2r(0xABCD1230 | 0x7);
        b.board().set_rpb13r(0x00FF00F0 | 0x9);
        b.open("HELLO.TXT");
        EXPECT_EQ(config_calls(b.board()), six_calls(c.out, c.in, c.clock)) << std::hex << c.devid;
        const std::vector<std::pair<uint32_t, uint32_t>> expected = {
            {SDI2R, 0xABCD1234}, {RPB13R, 0x00FF00F4}, {SPI2CON, 0x18060}, {SPI2CON2, 0x0C00}};
        EXPECT_EQ(writes_from_pps(b.board()), expected);
        EXPECT_EQ(b.console(), "");
        EXPECT_EQ(b.read(0, 5), bytes("Hello"));
    }
}

TEST(BusSetup, PinsAlreadySetUpGetNoPinCallsButTheRestRuns) {
    for (uint32_t devid : {sim::DEVID_44PIN, sim::DEVID_28PIN}) {
        Bench b;
        b.volume().put("/HELLO.TXT", bytes("Hello, card"));
        b.insert_card();
        b.board().set_devid(devid);
        b.board().set_pin_state(b.board().card_pins().data_out, PIN_CODE_CHIP_SELECT);
        b.open("HELLO.TXT");
        EXPECT_TRUE(config_calls(b.board()).empty());
        EXPECT_EQ(writes_from_pps(b.board()).size(), 4u);
        EXPECT_EQ(b.console(), "");
        EXPECT_EQ(b.read(7, 4), bytes("card"));
    }
}

// Another driver of SPI2 (a display, say) may leave it on in standard buffer
// mode with received bytes unread: none of them may be taken for the card's.
TEST(BusSetup, BytesLeftInSpi2BeforeTheCallAreNeverTakenForTheCards) {
    Bench b;
    b.volume().put("/HELLO.TXT", bytes("Hello, card"));
    b.insert_card();
    b.open("HELLO.TXT");
    b.board().reg_write(SPI2CON, SPI2CON_MASTER_MODE3 & ~SPI2CON_ENHBUF);
    b.board().reg_write(SPI2BUF, 0x00);
    b.board().reg_write(SPI2BUF, 0x01);
    EXPECT_EQ(b.read(0, 5), bytes("Hello"));
    EXPECT_EQ(b.console(), "");
}

// A very old MMC that does not know CMD59 refuses it and checks no CRC: the
// module carries on as with any card, its frames and blocks still carrying
// their CRCs.
TEST(BusSetup, AnOldMmcWithoutCrcCheckingStillReadsAndWrites) {
    Bench b;
    b.volume().put("/HELLO.TXT", bytes("Hello, card"));
    sim::SdCardConfig old_mmc;
    old_mmc.type = sim::CardType::Mmc;
    old_mmc.knows_crc_option = false;
    b.insert_card(old_mmc);
    b.open("HELLO.TXT");
    b.write(7, bytes("CARD"));
    EXPECT_EQ(b.read(0, 11), bytes("Hello, CARD"));
    EXPECT_EQ(b.console(), "");
    EXPECT_EQ(b.volume().get("/HELLO.TXT"), bytes("Hello, CARD"));
}

TEST(BusSetup, MissingCardPrintsNotReadyThenTheOpensOwnMessage) {
    Bench b; // nothing in the socket
    b.board().set_chip_select_option(testsupport::CARD_CS_PIN);
    b.open("HELLO.TXT");
    EXPECT_EQ(b.console(), "Not Ready\r\nNot Enabled\r\n");
    b.read(0, 5);
    EXPECT_EQ(b.console(), "Not Opened\r\nNot Opened\r\n");
}

TEST(BusSetup, MissingFileLeavesNothingOpen) {
    Bench b;
    b.volume().put("/HELLO.TXT", bytes("Hello, card"));
    b.insert_card();
    b.open("HELLO.TXT");
    b.open("NOPE.TXT");
    EXPECT_EQ(b.console(), "No File\r\n");
    int32_t got = -1;
    EXPECT_TRUE(b.read(0, 5, &got).empty());
    EXPECT_EQ(got, 0);
    EXPECT_EQ(b.console(), "Not Opened\r\nNot Opened\r\n");
}

TEST(BusSetup, EveryCommandNamingAFileRestartsTheAppendPosition) {
    for (int32_t mode : {MODE_OPEN, MODE_OPENDIR, MODE_LOAD, MODE_SAVE}) {
        Bench b;
        b.volume().put("/F.TXT", std::vector<uint8_t>(600, 'x'));
        b.insert_card();
        b.open("F.TXT");
        EXPECT_EQ(b.write(-1, bytes("twenty bytes of text")), 0);
        EXPECT_EQ(b.append_pos(), 20);
        b.call(mode, sim::counted(mode == MODE_OPENDIR ? "" : "F.TXT"));
        EXPECT_EQ(b.append_pos(), 0) << mode;
    }
}

TEST(LongNames, FourteenCharactersStillOpen) {
    Bench b;
    b.volume().mkdir("/DATA");
    b.volume().put("/DATA/LOG1.TXT", bytes("logged"));
    b.insert_card();
    b.open("/DATA/LOG1.TXT");
    EXPECT_EQ(b.console(), "");
    EXPECT_EQ(b.read(0, 6), bytes("logged"));
}

TEST(LongNames, OpenLoadAndSaveReportNoFileAndLeaveNoFileOpen) {
    const std::string too_long = "/DATA/LOG12.TXT"; // 15 characters
    Bench b;
    b.volume().mkdir("/DATA");
    b.volume().put("/DATA/LOG12.TXT", bytes("must stay as it is"));
    b.volume().put("/OTHER.TXT", bytes("other"));
    b.insert_card();

    b.open("OTHER.TXT");
    b.open(too_long);
    EXPECT_EQ(b.console(), "No File\r\n");
    b.read(0, 5);
    EXPECT_EQ(b.console(), "Not Opened\r\nNot Opened\r\n");

    b.call(MODE_LOAD, sim::counted(too_long));
    EXPECT_EQ(b.console(), "No File\r\nNot Opened\r\nNot Opened\r\n");
    ASSERT_EQ(b.board().loaded_programs().size(), 1u);
    EXPECT_EQ(b.board().loaded_programs()[0], "");

    b.board().set_program({"A"});
    b.call(MODE_SAVE, sim::counted(too_long));
    EXPECT_EQ(b.console(), "No File\r\nNot Opened\r\nNot Opened\r\nNot Opened\r\nNot Opened\r\n");
    EXPECT_EQ(b.volume().get("/DATA/LOG12.TXT"), bytes("must stay as it is"));
}

} // namespace
