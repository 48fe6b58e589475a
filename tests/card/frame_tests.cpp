// Byte exchange and command frames on the bus.
#include <gtest/gtest.h>

#include "card_rig.h"
#include "diskio.h"
#include "sd_crc.h"

namespace {

using sim::BusByte;
using sim::DiskImage;
using testsupport::CardRig;

std::vector<uint8_t> outs(const std::vector<BusByte>& bus, size_t from = 0) {
    std::vector<uint8_t> v;
    for (size_t i = from; i < bus.size(); ++i) {
        v.push_back(bus[i].out);
    }
    return v;
}

TEST(Frame, CommandBytesCrcAndTenResponseBytesWhenNothingAnswers) {
    sim::Board board;
    sim::BoardScope scope(board);
    testsupport::wire_card(board, nullptr);

    EXPECT_EQ(send_cmd(0x40, 0), 0xFF);
    std::vector<uint8_t> expected = {0xFF, 0xFF, 0x40, 0, 0, 0, 0, 0x95};
    expected.insert(expected.end(), 10, 0xFF);
    EXPECT_EQ(outs(board.bus()), expected);
    EXPECT_TRUE(board.bus()[0].cs_high);
    for (size_t i = 1; i < board.bus().size(); ++i) {
        EXPECT_FALSE(board.bus()[i].cs_high) << i; // left selected for the caller
    }

    // The argument goes big-endian, and every frame ends in its own CRC7.
    for (auto [cmd, arg] : {std::pair{0x48, 0x12345678u}, {0x51, 0xA00u}, {0x40, 7u}, {0x7B, 1u}, {0x58, ~0u}}) {
        board.clear_logs();
        send_cmd(static_cast<uint8_t>(cmd), arg);
        const std::vector<uint8_t> o = outs(board.bus());
        std::vector<uint8_t> want = {static_cast<uint8_t>(cmd), static_cast<uint8_t>(arg >> 24),
                                     static_cast<uint8_t>(arg >> 16), static_cast<uint8_t>(arg >> 8),
                                     static_cast<uint8_t>(arg)};
        want.push_back(sim::sd_frame_crc_byte(want.data()));
        ASSERT_EQ(o.size(), 18u);
        EXPECT_EQ(std::vector<uint8_t>(o.begin() + 2, o.begin() + 8), want);
    }
}

TEST(Frame, ApplicationCommandGoesAfterAnAcceptedCmd55Only) {
    CardRig sd(DiskImage::blank(8));
    ASSERT_EQ(disk_initialize(), 0);
    sd.board.clear_logs();
    sd.card.clear_logs();
    EXPECT_EQ(send_any_cmd(0xE9, 0x40000000), 0x00);
    ASSERT_EQ(sd.card.commands().size(), 2u);
    EXPECT_EQ(sd.card.commands()[0].index, 55);
    EXPECT_EQ(sd.card.commands()[1].index, 41);
    EXPECT_TRUE(sd.card.commands()[1].app);
    // Two whole frames: the second again opens with a deselected and a selected 0xFF.
    const std::vector<BusByte>& bus = sd.board.bus();
    ASSERT_EQ(bus.size(), 2u * (2 + 6 + 2));
    EXPECT_EQ(outs(bus), (std::vector<uint8_t>{0xFF, 0xFF, 0x77, 0,    0, 0, 0, 0x65, 0xFF, 0xFF, //
                                               0xFF, 0xFF, 0x69, 0x40, 0, 0, 0, 0x77, 0xFF, 0xFF}));
    EXPECT_TRUE(bus[10].cs_high);
    EXPECT_FALSE(bus[11].cs_high);
}

TEST(Frame, RefusedCmd55IsTheResultAndNoSecondFrameFollows) {
    sim::SdCardConfig config;
    config.type = sim::CardType::Mmc;
    CardRig mmc(DiskImage::blank(8), config);
    ASSERT_EQ(disk_initialize(), 0);
    mmc.card.clear_logs();
    EXPECT_EQ(send_any_cmd(0xE9, 0), 0x04); // illegal command, card no longer idle
    ASSERT_EQ(mmc.card.commands().size(), 1u);
    EXPECT_EQ(mmc.card.commands()[0].index, 55);
}

TEST(Frame, ChipSelectPinIsReadAfreshForEveryFrame) {
    CardRig rig(DiskImage::blank(8));
    ASSERT_EQ(disk_initialize(), 0);
    rig.board.clear_logs();
    send_cmd(0x7A, 0);
    rig.board.set_chip_select_option(-3);
    send_cmd(0x7A, 0);
    rig.board.set_chip_select_option(12);
    send_cmd(0x7A, 0);

    std::vector<int32_t> pins;
    for (const sim::PinCall& call : rig.board.pin_calls()) {
        ASSERT_EQ(call.kind, sim::PinCall::Write);
        pins.push_back(call.pin);
    }
    // Each frame deselects and selects; the negative pin is passed sign-extended.
    EXPECT_EQ(pins, (std::vector<int32_t>{7, 7, -3, -3, 12, 12}));
}

} // namespace
