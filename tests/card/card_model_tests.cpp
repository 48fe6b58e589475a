// The virtual card on its own, driven byte by byte: it must refuse what a
// real card refuses, so that a wrong driver can't pass on it.
#include <gtest/gtest.h>

#include "disk_image.h"
#include "sd_card.h"
#include "sd_crc.h"

namespace {

using sim::CardProfile;
using sim::CardType;
using sim::DiskImage;
using sim::SdCard;
using sim::SdCardConfig;
using sim::Violation;

constexpr uint64_t BYTE_PS = 1'200'000; // at SPI2BRG 2 on a 40 MHz peripheral bus
constexpr uint8_t NO_CRC = 0x01;

// A host that speaks to the card directly, as a driver would over the bus.
struct Host {
    SdCard& card;
    uint64_t now_ps = 0;
    uint64_t frame_ps = 0; // start of the last frame's closing byte

    uint8_t clock(uint8_t out = 0xFF, bool selected = true) {
        now_ps += BYTE_PS;
        return card.exchange(out, selected, now_ps - BYTE_PS);
    }
    void idle_clocks(int bytes) {
        for (int i = 0; i < bytes; ++i) {
            clock(0xFF, false);
        }
    }
    // A frame with the given closing byte; returns R1, or 0xFF after ten bytes.
    uint8_t command(uint8_t index, uint32_t arg, uint8_t crc) {
        clock(0xFF, false);
        clock();
        for (uint8_t b : {static_cast<uint8_t>(0x40 | index), static_cast<uint8_t>(arg >> 24),
                          static_cast<uint8_t>(arg >> 16), static_cast<uint8_t>(arg >> 8),
                          static_cast<uint8_t>(arg), crc}) {
            frame_ps = now_ps;
            clock(b);
        }
        uint8_t r = 0xFF;
        for (int n = 0; n < 10 && (r & 0x80); ++n) {
            r = clock();
        }
        return r;
    }
    uint8_t command(uint8_t index, uint32_t arg) {
        const uint8_t frame[5] = {static_cast<uint8_t>(0x40 | index), static_cast<uint8_t>(arg >> 24),
                                  static_cast<uint8_t>(arg >> 16), static_cast<uint8_t>(arg >> 8),
                                  static_cast<uint8_t>(arg)};
        return command(index, arg, sim::sd_frame_crc_byte(frame));
    }
    // Wake-up, CMD0, and the start-up command of the card's kind until ready, 1 ms apart.
    void bring_up(CardType type) {
        idle_clocks(10);
        ASSERT_EQ(command(0, 0), 0x01);
        for (int i = 0; i < 1000; ++i, now_ps += sim::PS_PER_MS) {
            uint8_t r;
            if (type == CardType::Mmc) {
                r = command(1, 0);
            } else {
                command(55, 0);
                r = command(41, 0x40000000);
            }
            if (r == 0) {
                return;
            }
        }
        FAIL() << "card did not come up";
    }
    // Gap, token, 512 bytes of `fill` and their CRC with `crc_flip` applied; returns the data response.
    uint8_t send_block(uint8_t fill, uint16_t crc_flip = 0) {
        const std::vector<uint8_t> data(512, fill);
        const uint16_t crc = sim::sd_crc16(data.data(), data.size()) ^ crc_flip;
        clock();
        clock(0xFE);
        for (uint8_t b : data) {
            clock(b);
        }
        clock(static_cast<uint8_t>(crc >> 8));
        clock(static_cast<uint8_t>(crc));
        return clock();
    }
};

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
        EXPECT_EQ(host.send_block(0x42), 0xE5); // accepted on the bus either way
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
    host.send_block(0x42);
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

TEST(CardModel, ProfilesTakeTheirTimesOnTheClockAndACutTearsTheBlockAsFarAsProgrammed) {
    for (CardProfile profile :
         {CardProfile::Fast, CardProfile::Typical, CardProfile::Slow, CardProfile::Limits}) {
        SCOPED_TRACE(sim::card_profile_name(profile));
        SdCardConfig config;
        config.timing = sim::card_timing(profile);
        config.faults.torn_write = sim::TornWrite::Mixed;
        const sim::CardTiming t = *config.timing;
        DiskImage image = DiskImage::blank(4);
        SdCard card(image, config);
        Host host{card};
        const auto within = [](uint64_t took, uint64_t want, uint64_t step) {
            EXPECT_GE(took, want);
            EXPECT_LT(took, want + step);
        };
        host.idle_clocks(10);
        host.command(0, 0);
        uint64_t first = 0;
        for (uint8_t r1 = 1; r1 != 0; host.now_ps += 100 * sim::PS_PER_US) {
            host.command(55, 0);
            r1 = host.command(41, 0x40000000);
            first = first != 0 ? first : host.frame_ps;
        }
        within(host.frame_ps - first, t.start_up_ps, 100 * sim::PS_PER_US + 20 * BYTE_PS); // one attempt
        ASSERT_EQ(host.command(17, 1), 0x00);
        const uint64_t asked = host.frame_ps;
        while (host.clock() != 0xFE) {
        }
        within(host.now_ps - BYTE_PS - asked, t.read_access_ps, BYTE_PS);
        for (int i = 0; i < 514; ++i) {
            host.clock();
        }
        // Writes up to and with the first stall (or three), then one cut a quarter into its busy time.
        const uint32_t writes = t.stall_every != 0 ? t.stall_every : 3;
        for (uint32_t n = 1; n <= writes + 1; ++n) {
            ASSERT_EQ(host.command(24, 2), 0x00);
            ASSERT_EQ(host.send_block(static_cast<uint8_t>(n)) & 0x1F, 0x05);
            const uint64_t last_crc_byte = host.now_ps - 2 * BYTE_PS;
            if (n <= writes) {
                while (host.clock() != 0xFF) {
                }
                within(host.now_ps - BYTE_PS - last_crc_byte,
                       n == t.stall_every ? t.stall_ps : t.write_busy_ps, BYTE_PS);
            }
        }
        host.now_ps += t.write_busy_ps / 4 - 2 * BYTE_PS; // the last CRC byte began 2 bytes ago
        host.clock();
        card.config().faults.power_cut_after = card.bytes_seen();
        host.clock();
        std::vector<uint8_t> torn(512, 0xFF);
        std::fill(torn.begin(), torn.begin() + 128, static_cast<uint8_t>(writes + 1));
        EXPECT_EQ(image.read_sector(2), torn);
        EXPECT_TRUE(card.violations().empty());
    }
}

TEST(CardModel, Cmd59TurnsOnCrcChecksThatRefuseAFrameOrABlockUnlessTheMmcIsTooOld) {
    for (const auto& [type, knows_cmd59] :
         {std::pair{CardType::Sd2Block, true}, {CardType::Mmc, true}, {CardType::Mmc, false}}) {
        SCOPED_TRACE(knows_cmd59);
        SdCardConfig config = of_type(type);
        config.knows_crc_option = knows_cmd59;
        DiskImage image = DiskImage::blank(4);
        SdCard card(image, config);
        Host host{card};
        const uint32_t sector1 = type == CardType::Mmc ? 512 : 1;
        host.idle_clocks(10);
        host.command(0, 0);
        EXPECT_EQ(host.command(58, 0, NO_CRC), 0x01); // not checked yet
        EXPECT_EQ(host.command(59, 1, NO_CRC), knows_cmd59 ? 0x01 : 0x05);
        host.bring_up(type);
        EXPECT_EQ(host.command(24, sector1, NO_CRC), knows_cmd59 ? 0x08 : 0x00);
        if (knows_cmd59) {
            EXPECT_EQ(host.clock(0xFE), 0xFF); // no write began: the token is a stray byte
            ASSERT_EQ(host.command(24, sector1), 0x00);
        }
        EXPECT_EQ(host.send_block(0x42, 0x0100), knows_cmd59 ? 0x0B : 0xE5);
        EXPECT_EQ(host.clock(), knows_cmd59 ? 0xFF : 0x00); // busy only after an accepted block
        while (host.clock() != 0xFF) {
        }
        EXPECT_EQ(image.write_log().size(), knows_cmd59 ? 0u : 1u);
        EXPECT_EQ(card.violations().size(), knows_cmd59 ? 3u : 0u);
        EXPECT_EQ(card.violated(Violation::BadCrc), knows_cmd59);
    }
}

TEST(CardModel, GlitchOutChangesTheByteTheCardActsOn) {
    DiskImage image = DiskImage::blank(4);
    SdCard card(image);
    Host host{card};
    host.bring_up(CardType::Sd2Block);
    // command() clocks 0xFF deselected, 0xFF selected, then the frame: the argument's low byte is the 7th.
    card.config().faults.glitches_out = {{card.bytes_seen() + 7, 1}};
    ASSERT_EQ(host.command(17, 1), 0x00);
    EXPECT_EQ(card.commands().back().arg, 3u);
    EXPECT_EQ(card.reads(), std::vector<uint32_t>{3});
}

} // namespace
