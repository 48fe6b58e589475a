// What the card checks once CMD59 turns CRC checking on, and what it makes of
// a byte that a glitch changed on its way to the card.
#include <gtest/gtest.h>

#include "card_host.h"
#include "disk_image.h"

namespace {

using cardtest::Host;
using sim::CardType;
using sim::DiskImage;
using sim::SdCard;
using sim::SdCardConfig;
using sim::Violation;

constexpr uint8_t NO_CRC = 0x01; // what a driver that leaves the CRC out closes a frame with

SdCardConfig of_type(CardType type) {
    SdCardConfig config;
    config.type = type;
    return config;
}

size_t count(const SdCard& card, Violation kind) {
    size_t n = 0;
    for (const sim::CardViolation& v : card.violations()) {
        n += v.kind == kind;
    }
    return n;
}

void finish_busy(Host& host) {
    while (host.clock() != 0xFF) {
    }
}

TEST(CardCrc, OnceTurnedOnEveryFrameAndBlockIsCheckedAndAWrongOneChangesNothing) {
    for (CardType type : {CardType::Sd2Block, CardType::Mmc}) {
        SCOPED_TRACE(static_cast<int>(type));
        DiskImage image = DiskImage::blank(4);
        SdCard card(image, of_type(type));
        Host host{card};
        const uint32_t sector1 = type == CardType::Mmc ? 512 : 1;
        host.idle_clocks(10);
        ASSERT_EQ(host.command(0, 0), 0x01);
        EXPECT_EQ(host.command(58, 0, NO_CRC), 0x01); // not checked yet
        EXPECT_EQ(host.command(59, 1, NO_CRC), 0x01); // taken in the idle state
        ASSERT_TRUE(card.checks_crc());
        EXPECT_EQ(type == CardType::Mmc ? host.command(1, 0, NO_CRC) : host.command(55, 0, NO_CRC), 0x09);
        host.bring_up(type);
        EXPECT_TRUE(card.checks_crc()); // CMD0 left it on

        EXPECT_EQ(host.command(17, sector1, NO_CRC), 0x08);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(host.clock(), 0xFF); // no block follows
        }
        EXPECT_TRUE(card.reads().empty());
        EXPECT_EQ(host.command(24, sector1, NO_CRC), 0x08);
        EXPECT_EQ(host.clock(0xFE), 0xFF); // no write began: a token is a stray byte
        EXPECT_TRUE(card.violated(Violation::StrayByte));

        const std::vector<uint8_t> data(512, 0x42);
        const uint16_t crc = sim::sd_crc16(data.data(), data.size());
        ASSERT_EQ(host.command(24, sector1), 0x00);
        EXPECT_EQ(host.send_block(data, static_cast<uint16_t>(crc ^ 0x0100)), 0x0B);
        EXPECT_EQ(host.clock(), 0xFF); // no busy phase
        EXPECT_EQ(host.command(58, 0), 0x00);
        EXPECT_TRUE(image.write_log().empty());

        ASSERT_EQ(host.command(24, sector1), 0x00);
        EXPECT_EQ(host.send_block(data) & 0x1F, 0x05);
        finish_busy(host);
        EXPECT_EQ(image.write_log(), std::vector<uint32_t>{1});
        EXPECT_EQ(count(card, Violation::BadCrc), 4u);

        EXPECT_EQ(host.command(59, 0), 0x00);
        EXPECT_EQ(host.command(58, 0, NO_CRC), 0x00);
    }
}

TEST(CardCrc, AnOldMmcAnswersCmd59AsIllegalAndChecksNothing) {
    SdCardConfig config = of_type(CardType::Mmc);
    config.knows_crc_option = false;
    DiskImage image = DiskImage::blank(4);
    SdCard card(image, config);
    Host host{card};
    host.idle_clocks(10);
    ASSERT_EQ(host.command(0, 0), 0x01);
    EXPECT_EQ(host.command(59, 1), 0x05);
    EXPECT_FALSE(card.checks_crc());
    host.bring_up(CardType::Mmc);
    ASSERT_EQ(host.command(24, 2 * 512, NO_CRC), 0x00);
    EXPECT_EQ(host.send_block(std::vector<uint8_t>(512, 0x42), 0) & 0x1F, 0x05);
    finish_busy(host);
    EXPECT_EQ(image.write_log(), std::vector<uint32_t>{2});
    EXPECT_TRUE(card.violations().empty()) << card.violations().front().detail;
}

TEST(CardGlitchOut, TheCardActsOnTheByteAsItArrives) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.bring_up(CardType::Sd2Block);
    // command() clocks a deselected and a selected 0xFF, then the frame: its
    // argument's low byte is the 7th byte from here.
    uint64_t at = card.bytes_seen();
    card.config().faults.glitches_out = {{at + 7, 1}};
    ASSERT_EQ(host.command(17, 1), 0x00);
    EXPECT_EQ(card.commands().back().arg, 3u);
    EXPECT_EQ(card.reads(), std::vector<uint32_t>{3});
    EXPECT_EQ(card.fault_fired_at(), at + 7);
    while (host.clock() != 0xFE) {
    }
    for (int i = 0; i < 514; ++i) {
        host.clock();
    }

    ASSERT_EQ(host.command(59, 1), 0x00);
    at = card.bytes_seen();
    card.config().faults.glitches_out = {{at + 7, 1}};
    EXPECT_EQ(host.command(17, 1), 0x08); // the flip breaks the CRC
    EXPECT_EQ(card.commands().back().arg, 3u);
    EXPECT_EQ(card.reads().size(), 1u);

    // The selected 0xFF before a frame arrives as 0x7F: a frame starts there,
    // and the real frame's first five bytes complete it.
    at = card.bytes_seen();
    card.config().faults.glitches_out = {{at + 2, 7}};
    host.command(58, 0);
    bool opened = false;
    for (const sim::CardCommand& c : card.commands()) {
        opened = opened || (c.index == 63 && c.arg == 0x7A000000 && c.crc == 0x00);
    }
    EXPECT_TRUE(opened);
}

} // namespace
