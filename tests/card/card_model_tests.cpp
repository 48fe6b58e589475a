// The virtual card on its own, driven byte by byte: it must refuse what a
// real card refuses, so that a wrong driver can't pass on it.
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

SdCardConfig of_type(CardType type) {
    SdCardConfig config;
    config.type = type;
    return config;
}

TEST(CardModel, ChecksumsMatchTheKnownValues) {
    const uint8_t cmd0[5] = {0x40, 0, 0, 0, 0};
    const uint8_t cmd8[5] = {0x48, 0, 0, 0x01, 0xAA};
    const uint8_t cmd17[5] = {0x51, 0, 0, 0, 0};
    EXPECT_EQ(sim::sd_frame_crc_byte(cmd0), 0x95);
    EXPECT_EQ(sim::sd_frame_crc_byte(cmd8), 0x87);
    EXPECT_EQ(sim::sd_frame_crc_byte(cmd17), 0x55);
    const std::vector<uint8_t> ones(512, 0xFF);
    EXPECT_EQ(sim::sd_crc16(ones.data(), ones.size()), 0x7FA1);
}

TEST(CardModel, NeedsSeventyFourClocksWithChipSelectHighBeforeAnything) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.idle_clocks(8);                 // 64 clocks, and the frame's own opening byte: 72
    EXPECT_EQ(host.command(0, 0), 0xFF); // ignored
    EXPECT_TRUE(card.violated(Violation::EarlySelect));
    EXPECT_FALSE(card.in_spi_mode());
    host.idle_clocks(1); // selected bytes never counted; now 80
    EXPECT_EQ(host.command(0, 0), 0x01);
    EXPECT_TRUE(card.in_spi_mode());
}

TEST(CardModel, Cmd0NeedsItsCrcAndComesFirst) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.idle_clocks(10);
    EXPECT_EQ(host.command(8, 0x1AA), 0xFF);
    EXPECT_TRUE(card.violated(Violation::CommandBeforeReset));
    EXPECT_EQ(host.command(0, 0, 0x01), 0xFF); // CRC left out, as for other commands
    EXPECT_TRUE(card.violated(Violation::BadCrc));
    EXPECT_FALSE(card.in_spi_mode());
    EXPECT_EQ(host.command(0, 0, 0x95), 0x01);
    ASSERT_EQ(card.commands().size(), 3u);
    EXPECT_TRUE(card.commands()[1].response.empty());
    EXPECT_EQ(card.commands()[2].crc, 0x95);
}

TEST(CardModel, Cmd8ChecksItsCrcAgainstTheArgument) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.idle_clocks(10);
    host.command(0, 0);
    EXPECT_EQ(host.command(8, 0x1AA, 0x01), 0x09); // CRC error, idle
    EXPECT_EQ(host.command(8, 0x2AA, 0x87), 0x09); // 0x87 fits 0x1AA only
    EXPECT_EQ(card.violations().size(), 2u);
    EXPECT_EQ(host.command(8, 0x1AA, 0x87), 0x01);
    for (int i = 0; i < 4; ++i) {
        host.clock();
    }
    EXPECT_EQ(card.commands().back().response, (std::vector<uint8_t>{0x01, 0, 0, 0x01, 0xAA}));
}

TEST(CardModel, CommandsAKindLacksAreIllegal) {
    for (CardType type : {CardType::Mmc, CardType::Sd1}) {
        DiskImage image = DiskImage::blank(4);
        SdCard card(image, of_type(type));
        Host host{card};
        host.idle_clocks(10);
        host.command(0, 0);
        EXPECT_EQ(host.command(8, 0x1AA), 0x05);
        EXPECT_EQ(host.command(55, 0), type == CardType::Mmc ? 0x05 : 0x01);
        EXPECT_TRUE(card.violations().empty()); // probing is allowed, just refused
    }
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.bring_up(CardType::Sd2Block);
    EXPECT_EQ(host.command(41, 0), 0x04); // ACMD41 without its CMD55
    EXPECT_EQ(host.command(25, 0), 0x04); // multiple-block write: not modelled
    EXPECT_TRUE(card.violated(Violation::UnsupportedCommand));
}

TEST(CardModel, HighCapacityCardStaysIdleWithoutHcs) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.idle_clocks(10);
    host.command(0, 0);
    host.command(8, 0x1AA);
    for (int i = 0; i < 5; ++i) {
        host.command(55, 0);
        EXPECT_EQ(host.command(41, 0), 0x01);
    }
    EXPECT_TRUE(card.violated(Violation::MissingHcs));
    EXPECT_FALSE(card.ready());
}

TEST(CardModel, OcrShowsPowerUpAndCapacity) {
    for (auto [type, ready_byte] : {std::pair{CardType::Sd2Block, 0xC0}, {CardType::Sd2Byte, 0x80}}) {
        DiskImage image = DiskImage::blank(4);
        SdCard card(image, of_type(type));
        Host host{card};
        host.idle_clocks(10);
        host.command(0, 0);
        host.command(58, 0);
        EXPECT_EQ(card.commands().back().response, (std::vector<uint8_t>{0x01, 0x00, 0xFF, 0x80, 0x00}));
        host.command(55, 0);
        host.command(41, 0x40000000);
        host.command(55, 0);
        host.command(41, 0x40000000);
        ASSERT_TRUE(card.ready());
        EXPECT_EQ(host.command(58, 0), 0x00);
        EXPECT_EQ(card.commands().back().response[1], ready_byte);
    }
}

TEST(CardModel, DataCommandsNeedAReadyCardAndAValidAddress) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image, of_type(CardType::Sd2Byte));
    Host host{card};
    host.idle_clocks(10);
    host.command(0, 0);
    EXPECT_EQ(host.command(17, 0), 0x05);
    EXPECT_TRUE(card.violated(Violation::NotInitialised));

    host.command(55, 0);
    host.command(41, 0x40000000);
    host.command(55, 0);
    host.command(41, 0x40000000);
    ASSERT_TRUE(card.ready());
    EXPECT_EQ(host.command(17, 3), 0x20); // a sector number sent to a byte-addressed card
    EXPECT_TRUE(card.violated(Violation::UnalignedAddress));
    EXPECT_EQ(host.command(24, 4 * 512), 0x40); // one past the last sector
    EXPECT_TRUE(card.violated(Violation::AddressBeyondCapacity));
    EXPECT_EQ(host.command(16, 1024), 0x40);
    EXPECT_TRUE(card.violated(Violation::BadBlockLength));
    EXPECT_EQ(host.command(16, 512), 0x00);
    EXPECT_TRUE(card.reads().empty());
}

TEST(CardModel, WriteNeedsGapAndTokenBeforeData) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.bring_up(CardType::Sd2Block);

    // Data straight after R1, with no token: the card waits for the token and stores nothing.
    ASSERT_EQ(host.command(24, 1), 0x00);
    for (int i = 0; i < 514; ++i) {
        host.clock(0x42);
    }
    EXPECT_TRUE(card.violated(Violation::DataBeforeToken));
    host.clock(0xFF, false);
    EXPECT_TRUE(card.violated(Violation::DeselectedInTransfer));
    EXPECT_TRUE(image.write_log().empty());

    // The token right after R1, without the gap byte.
    card.clear_logs();
    ASSERT_EQ(host.command(24, 1), 0x00);
    host.clock(0xFE);
    for (int i = 0; i < 514; ++i) {
        host.clock(0x42);
    }
    EXPECT_TRUE(card.violated(Violation::TokenWithoutGap));
    EXPECT_EQ(host.clock(), 0xE5);
}

TEST(CardModel, StoresTheBlockOnlyWhenBusyIsOver) {
    SdCardConfig config;
    config.busy_bytes = 3;
    DiskImage image = DiskImage::blank(4);
    SdCard card(image, config);
    Host host{card};
    host.bring_up(CardType::Sd2Block);
    ASSERT_EQ(host.command(24, 2), 0x00);
    host.clock();
    host.clock(0xFE);
    for (int i = 0; i < 514; ++i) {
        host.clock(static_cast<uint8_t>(i));
    }
    EXPECT_EQ(host.clock(), 0xE5);
    EXPECT_EQ(host.clock(), 0x00);
    EXPECT_EQ(host.clock(0x51), 0x00); // a command while busy is not taken
    EXPECT_TRUE(card.violated(Violation::CommandWhileBusy));
    EXPECT_TRUE(image.write_log().empty());
    EXPECT_EQ(host.clock(), 0x00);
    EXPECT_EQ(image.write_log(), std::vector<uint32_t>{2});
    EXPECT_EQ(host.clock(), 0xFF);
    EXPECT_EQ(image.read_sector(2)[511], 511 & 0xFF);
}

TEST(CardModel, AllowListKeepsEveryOtherSectorAsItWas) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    std::vector<sim::CardViolation> seen;
    card.on_violation([&](const sim::CardViolation& v) { seen.push_back(v); });
    card.allow_writes({1});
    Host host{card};
    host.bring_up(CardType::Sd2Block);
    for (uint32_t sector : {1u, 2u}) {
        ASSERT_EQ(host.command(24, sector), 0x00);
        host.clock();
        host.clock(0xFE);
        for (int i = 0; i < 514; ++i) {
            host.clock(0x42);
        }
        EXPECT_EQ(host.clock(), 0xE5); // accepted on the bus either way
        while (host.clock() != 0xFF) {
        }
    }
    EXPECT_EQ(image.write_log(), std::vector<uint32_t>{1});
    EXPECT_EQ(image.read_sector(2), std::vector<uint8_t>(512, 0));
    ASSERT_EQ(card.refused_writes().size(), 1u);
    EXPECT_EQ(card.refused_writes()[0].sector, 2u);
    EXPECT_GT(card.refused_writes()[0].bus_byte, 2u * 514); // two blocks went before it
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, Violation::WriteNotAllowed);

    card.allow_all_writes();
    card.clear_logs();
    ASSERT_EQ(host.command(24, 3), 0x00);
    host.clock();
    host.clock(0xFE);
    for (int i = 0; i < 514; ++i) {
        host.clock(0x42);
    }
    while (host.clock() != 0xFF) {
    }
    EXPECT_EQ(image.write_log().back(), 3u);
    EXPECT_TRUE(card.refused_writes().empty());
}

TEST(CardModel, ReadBlockCarriesARealCrcAndMustBeClockedWhole) {
    SdCardConfig config;
    config.read_gap = 3;
    DiskImage image = DiskImage::from_bytes(std::vector<uint8_t>(4 * 512, 0xFF));
    SdCard card(image, config);
    Host host{card};
    host.bring_up(CardType::Sd2Block);
    ASSERT_EQ(host.command(17, 1), 0x00);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(host.clock(), 0xFF);
    }
    EXPECT_EQ(host.clock(), 0xFE);
    for (int i = 0; i < 512; ++i) {
        host.clock();
    }
    EXPECT_EQ(host.clock(), 0x7F);
    EXPECT_EQ(host.clock(), 0xA1);
    host.clock(0xFF, false);
    EXPECT_TRUE(card.violations().empty());

    ASSERT_EQ(host.command(17, 2), 0x00);
    host.clock();
    host.clock(0xFF, false);
    EXPECT_TRUE(card.violated(Violation::DeselectedInTransfer));
}

TEST(CardModel, StrayBytesAndFramesWithoutEndBitAreNoted) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.bring_up(CardType::Sd2Block);
    host.clock(0x00); // zeros outside a write: a finish with no block started
    EXPECT_TRUE(card.violated(Violation::StrayByte));
    host.command(58, 0, 0x00);
    EXPECT_TRUE(card.violated(Violation::MissingEndBit));
}

TEST(CardModel, PowerCutSilencesTheCardForGood) {
    SdCardConfig config;
    config.faults.power_cut_after = 25;
    DiskImage image = DiskImage::blank(4);
    SdCard card(image, config);
    Host host{card};
    host.idle_clocks(10);
    EXPECT_EQ(host.command(0, 0), 0x01); // bytes 11 to 20
    EXPECT_TRUE(card.powered());
    EXPECT_EQ(host.command(8, 0x1AA), 0xFF); // the cut falls inside this frame
    EXPECT_FALSE(card.powered());
    EXPECT_EQ(host.command(0, 0), 0xFF);
    EXPECT_EQ(card.commands().size(), 1u);
}

} // namespace
