// The card's delays on the clock: each profile's start-up, read access and
// write busy as a host polling byte after byte measures them, and what a power
// cut in the middle of programming leaves.
#include <gtest/gtest.h>

#include "card_host.h"
#include "disk_image.h"

namespace {

using cardtest::BYTE_PS;
using cardtest::Host;
using sim::CardProfile;
using sim::DiskImage;
using sim::SdCard;
using sim::SdCardConfig;

constexpr uint64_t START_DELAY_PS = 100 * sim::PS_PER_US;

SdCardConfig timed(CardProfile profile) {
    SdCardConfig config;
    config.timing = sim::card_timing(profile);
    return config;
}

// From the data response on; returns the start of the first byte that is no longer busy.
uint64_t end_of_busy(Host& host) {
    while (host.clock() != 0xFF) {
    }
    return host.now_ps - BYTE_PS;
}

TEST(CardTiming, EveryProfileTakesItsTimesOnTheClock) {
    for (CardProfile profile :
         {CardProfile::Fast, CardProfile::Typical, CardProfile::Slow, CardProfile::Limits}) {
        SCOPED_TRACE(sim::card_profile_name(profile));
        const sim::CardTiming t = sim::card_timing(profile);
        DiskImage image = DiskImage::blank(4);
        SdCard card(image, timed(profile));
        Host host{card};
        host.idle_clocks(10);
        ASSERT_EQ(host.command(0, 0), 0x01);

        uint64_t first = 0;
        uint64_t ready = 0;
        for (int attempt = 0; ready == 0 && attempt < 20000; ++attempt) {
            host.command(55, 0);
            const uint8_t r1 = host.command(41, 0x40000000);
            first = attempt == 0 ? host.frame_ps : first;
            ready = r1 == 0 ? host.frame_ps : 0;
            host.now_ps += START_DELAY_PS;
        }
        EXPECT_GE(ready - first, t.start_up_ps);
        EXPECT_LT(ready - first, t.start_up_ps + START_DELAY_PS + 20 * BYTE_PS); // one attempt later at most

        ASSERT_EQ(host.command(17, 1), 0x00);
        const uint64_t asked = host.frame_ps;
        while (host.clock() != 0xFE) {
        }
        const uint64_t access = host.now_ps - BYTE_PS - asked;
        EXPECT_GE(access, t.read_access_ps);
        EXPECT_LT(access, t.read_access_ps + BYTE_PS);
        for (int i = 0; i < 514; ++i) {
            host.clock();
        }

        // Up to and with the first stall, or three writes.
        const uint32_t writes = t.stall_every != 0 ? t.stall_every : 3;
        for (uint32_t n = 1; n <= writes; ++n) {
            ASSERT_EQ(host.command(24, 2), 0x00);
            ASSERT_EQ(host.send_block(std::vector<uint8_t>(512, static_cast<uint8_t>(n))) & 0x1F, 0x05);
            const uint64_t last_crc_byte = host.now_ps - 2 * BYTE_PS;
            const uint64_t busy = end_of_busy(host) - last_crc_byte;
            const uint64_t want = n == t.stall_every ? t.stall_ps : t.write_busy_ps;
            EXPECT_GE(busy, want) << "write " << n;
            EXPECT_LT(busy, want + BYTE_PS) << "write " << n;
        }
        EXPECT_EQ(image.write_log().size(), writes);
        EXPECT_TRUE(card.violations().empty());
    }
}

TEST(CardTiming, APowerCutKeepsWhatProgrammingHadDoneByThen) {
    SdCardConfig config = timed(CardProfile::Typical);
    config.faults.torn_write = sim::TornWrite::Mixed;
    const uint64_t busy = config.timing->write_busy_ps;
    for (const auto& [cut_after, kept] : {std::pair{busy / 4, 128u}, {busy, 512u}}) {
        SCOPED_TRACE(kept);
        DiskImage image = DiskImage::blank(4);
        SdCard card(image, config);
        Host host{card};
        host.bring_up(sim::CardType::Sd2Block);
        ASSERT_EQ(host.command(24, 1), 0x00);
        ASSERT_EQ(host.send_block(std::vector<uint8_t>(512, 0x42)) & 0x1F, 0x05);
        // The last byte the card lives through starts that long after the block's last CRC byte.
        host.now_ps = host.now_ps - 2 * BYTE_PS + cut_after;
        host.clock();
        card.config().faults.power_cut_after = card.bytes_seen();
        host.clock();
        ASSERT_FALSE(card.powered());
        std::vector<uint8_t> want(512, 0xFF);
        std::fill(want.begin(), want.begin() + kept, 0x42);
        EXPECT_EQ(image.read_sector(1), want);
    }
}

} // namespace
