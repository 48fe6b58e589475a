// Partial-sector reads and the streamed sector write, through the exact bus
// protocol of the virtual card.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <numeric>

#include "card_rig.h"
#include "diskio.h"
#include "sd_crc.h"
#include "state_offsets.h"

namespace {

using sim::BusByte;
using sim::CardType;
using sim::DiskImage;
using sim::SdCardConfig;
using testsupport::CardRig;

// An image whose every byte tells its sector and position apart.
DiskImage patterned(uint32_t sectors) {
    std::vector<uint8_t> bytes(sectors * 512u);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + i / 512);
    }
    return DiskImage::from_bytes(bytes);
}

std::vector<uint8_t> pattern_bytes(uint32_t sector, uint32_t offset, uint32_t count) {
    std::vector<uint8_t> v;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = sector * 512u + offset + i;
        v.push_back(static_cast<uint8_t>(at * 7 + at / 512));
    }
    return v;
}

SdCardConfig of_type(CardType type) {
    SdCardConfig config;
    config.type = type;
    return config;
}

uint16_t wc(const sim::Board& board) {
    return static_cast<uint16_t>(board.ram_u32(sim::RAM_STATE + STATE_WC) & 0xFFFF);
}

// Bus bytes from `from` on that the chip sent while the card was selected.
std::vector<uint8_t> selected_outs(const std::vector<BusByte>& bus, size_t from) {
    std::vector<uint8_t> v;
    for (size_t i = from; i < bus.size() && !bus[i].cs_high; ++i) {
        v.push_back(bus[i].out);
    }
    return v;
}

TEST(SectorRead, DeliversAnyRangeOfAnySectorOnEveryKind) {
    for (CardType type : {CardType::Mmc, CardType::Sd1, CardType::Sd2Byte, CardType::Sd2Block}) {
        CardRig rig(patterned(40), of_type(type));
        ASSERT_EQ(disk_initialize(), 0);
        for (auto [sector, offset, count] : {std::tuple{0u, 0u, 512u}, {39u, 510u, 2u}, {17u, 100u, 33u}}) {
            std::vector<uint8_t> got(count, 0xAA);
            ASSERT_EQ(disk_readp(got.data(), sector, offset, count), RES_OK);
            EXPECT_EQ(got, pattern_bytes(sector, offset, count));
        }
        EXPECT_TRUE(rig.card.violations().empty()) << sim::violation_name(rig.card.violations()[0].kind);
        EXPECT_EQ(rig.card.reads(), (std::vector<uint32_t>{0, 39, 17}));
    }
}

TEST(SectorRead, EveryReadClocksTheWholeBlockAndItsCrc) {
    for (auto [offset, count] : {std::pair{510u, 2u}, {0u, 512u}, {0u, 1u}}) {
        CardRig rig(patterned(8));
        ASSERT_EQ(disk_initialize(), 0);
        rig.board.clear_logs();
        std::vector<uint8_t> got(count);
        ASSERT_EQ(disk_readp(got.data(), 3, offset, count), RES_OK);

        const std::vector<BusByte>& bus = rig.board.bus();
        size_t token = 0;
        while (token < bus.size() && bus[token].in != 0xFE) {
            ++token;
        }
        ASSERT_LT(token, bus.size());
        // 512 data and 2 CRC bytes after the token, then one closing byte deselected.
        ASSERT_EQ(bus.size(), token + 1 + 514 + 1);
        EXPECT_FALSE(bus[token + 514].cs_high);
        EXPECT_TRUE(bus.back().cs_high);
        EXPECT_TRUE(rig.card.violations().empty());
    }
}

TEST(SectorRead, BlockCardsTakeSectorNumbersOthersByteAddresses) {
    for (auto [type, arg] : {std::pair{CardType::Sd2Block, 5u},
                             {CardType::Sd2Byte, 0xA00u},
                             {CardType::Sd1, 0xA00u},
                             {CardType::Mmc, 0xA00u}}) {
        CardRig rig(patterned(8), of_type(type));
        ASSERT_EQ(disk_initialize(), 0);
        rig.board.clear_logs();
        uint8_t b[4];
        ASSERT_EQ(disk_readp(b, 5, 0, 4), RES_OK);
        const std::vector<uint8_t> frame = selected_outs(rig.board.bus(), 1);
        ASSERT_GE(frame.size(), 7u);
        std::vector<uint8_t> want = {0x51, static_cast<uint8_t>(arg >> 24), static_cast<uint8_t>(arg >> 16),
                                     static_cast<uint8_t>(arg >> 8), static_cast<uint8_t>(arg)};
        want.push_back(sim::sd_frame_crc_byte(want.data()));
        EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 1, frame.begin() + 7), want);
        EXPECT_EQ(rig.card.reads(), std::vector<uint32_t>{5});
    }
}

TEST(SectorRead, FailuresStoreNothingAndDeselect) {
    SdCardConfig error_token;
    error_token.faults.read_token = 0x01;
    SdCardConfig slow_token;
    slow_token.read_gap = 1u << 17; // the token would be the 131,073rd byte
    for (const SdCardConfig& config : {error_token, slow_token}) {
        CardRig rig(patterned(8), config);
        ASSERT_EQ(disk_initialize(), 0);
        rig.board.clear_logs();
        std::vector<uint8_t> got(16, 0xAA);
        EXPECT_EQ(disk_readp(got.data(), 2, 0, 16), RES_ERROR);
        EXPECT_EQ(got, std::vector<uint8_t>(16, 0xAA));
        EXPECT_TRUE(rig.board.bus().back().cs_high);
        EXPECT_EQ(rig.board.delay_calls(), 0u);
    }

    // A sector beyond the card is refused in its R1.
    CardRig rig(patterned(8));
    ASSERT_EQ(disk_initialize(), 0);
    uint8_t b[2] = {0xAA, 0xAA};
    EXPECT_EQ(disk_readp(b, 8, 0, 2), RES_ERROR);
    EXPECT_EQ(b[0], 0xAA);
    EXPECT_TRUE(rig.card.violated(sim::Violation::AddressBeyondCapacity));
    EXPECT_TRUE(rig.board.bus().back().cs_high);
}

TEST(SectorRead, TokenAsTheFortyThousandthPollIsStillTaken) {
    SdCardConfig config;
    config.read_gap = 39999;
    CardRig rig(patterned(8), config);
    ASSERT_EQ(disk_initialize(), 0);
    uint8_t b[3];
    ASSERT_EQ(disk_readp(b, 1, 7, 3), RES_OK);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 3), pattern_bytes(1, 7, 3));
}

TEST(SectorRead, ArgumentsOutsideOneSectorAreRefusedBeforeTheCardSeesThem) {
    CardRig rig(patterned(8));
    ASSERT_EQ(disk_initialize(), 0);
    rig.board.clear_logs();
    uint8_t b[512];
    EXPECT_EQ(disk_readp(nullptr, 1, 0, 4), RES_PARERR);
    EXPECT_EQ(disk_readp(b, 1, 0, 0), RES_PARERR);
    EXPECT_EQ(disk_readp(b, 1, 511, 2), RES_PARERR);
    EXPECT_EQ(disk_readp(b, 1, 512, 1), RES_PARERR);
    EXPECT_EQ(disk_readp(b, 1, 0xFFFFFFFF, 2), RES_PARERR); // offset + count would wrap
    EXPECT_TRUE(rig.board.bus().empty());
    EXPECT_TRUE(rig.board.pin_calls().empty());
}

// A 32-bit byte address ends at 4 GiB: sector 0x800001 would reach the card
// as the address of sector 1.
TEST(SectorRead, SectorsPastByteAddressingAreRefusedOnByteAddressedCards) {
    for (CardType type : {CardType::Mmc, CardType::Sd1, CardType::Sd2Byte}) {
        CardRig rig(patterned(8), of_type(type));
        ASSERT_EQ(disk_initialize(), 0);
        rig.board.clear_logs();
        const uint16_t before = wc(rig.board);
        uint8_t b[4];
        EXPECT_EQ(disk_readp(b, 0x800001, 0, 4), RES_PARERR);
        EXPECT_EQ(disk_writep(nullptr, 0x800001), RES_PARERR);
        EXPECT_EQ(wc(rig.board), before);
        EXPECT_TRUE(rig.board.bus().empty());
        EXPECT_TRUE(rig.image.write_log().empty());
    }
}

TEST(SectorWrite, WholeSectorInPiecesReachesTheImageOnlyAfterFinish) {
    for (CardType type : {CardType::Sd2Block, CardType::Sd2Byte, CardType::Mmc}) {
        CardRig rig(DiskImage::blank(16), of_type(type));
        ASSERT_EQ(disk_initialize(), 0);
        std::vector<uint8_t> data(512);
        std::iota(data.begin(), data.end(), uint8_t{3});

        ASSERT_EQ(disk_writep(nullptr, 9), RES_OK);
        EXPECT_EQ(wc(rig.board), 512u);
        ASSERT_EQ(disk_writep(data.data(), 100), RES_OK);
        ASSERT_EQ(disk_writep(data.data() + 100, 100), RES_OK);
        EXPECT_EQ(wc(rig.board), 312u);
        ASSERT_EQ(disk_writep(data.data() + 200, 312), RES_OK);
        EXPECT_TRUE(rig.image.write_log().empty());

        const size_t before_finish = rig.board.bus().size();
        ASSERT_EQ(disk_writep(nullptr, 0), RES_OK);
        // No filler: the block's CRC16 over the three pieces, then the data response is read.
        const std::vector<BusByte>& bus = rig.board.bus();
        const uint16_t crc = sim::sd_crc16(data.data(), data.size());
        EXPECT_EQ(bus[before_finish].out, crc >> 8);
        EXPECT_EQ(bus[before_finish + 1].out, crc & 0xFF);
        EXPECT_EQ(bus[before_finish + 2].out, 0xFF);
        EXPECT_EQ(bus[before_finish + 2].in, 0xE5);
        EXPECT_TRUE(bus.back().cs_high);
        EXPECT_EQ(wc(rig.board), 0u); // the finish leaves the counter as it found it

        EXPECT_EQ(rig.image.write_log(), std::vector<uint32_t>{9});
        EXPECT_EQ(rig.image.read_sector(9), data);
        EXPECT_TRUE(rig.card.violations().empty());
        std::vector<uint8_t> back(512);
        ASSERT_EQ(disk_readp(back.data(), 9, 0, 512), RES_OK);
        EXPECT_EQ(back, data);
    }
}

TEST(SectorWrite, DataBeyondTheBlockIsNotSent) {
    CardRig rig(DiskImage::blank(16));
    ASSERT_EQ(disk_initialize(), 0);
    std::vector<uint8_t> data(600, 0x5A);
    ASSERT_EQ(disk_writep(nullptr, 2), RES_OK);
    size_t before = rig.board.bus().size();
    EXPECT_EQ(disk_writep(data.data(), 600), RES_OK);
    EXPECT_EQ(rig.board.bus().size(), before + 512);
    before = rig.board.bus().size();
    EXPECT_EQ(disk_writep(data.data(), 600), RES_OK);
    EXPECT_EQ(rig.board.bus().size(), before);
    ASSERT_EQ(disk_writep(nullptr, 0), RES_OK);
    EXPECT_EQ(rig.image.read_sector(2), std::vector<uint8_t>(512, 0x5A));
    EXPECT_TRUE(rig.card.violations().empty());
}

TEST(SectorWrite, EarlyFinishFillsTheRestWithZeros) {
    CardRig rig(patterned(16));
    ASSERT_EQ(disk_initialize(), 0);
    const std::vector<uint8_t> ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_EQ(disk_writep(nullptr, 4), RES_OK);
    ASSERT_EQ(disk_writep(ten.data(), 10), RES_OK);
    const size_t before = rig.board.bus().size();
    ASSERT_EQ(disk_writep(nullptr, 0), RES_OK);
    const std::vector<BusByte>& bus = rig.board.bus();
    for (size_t i = before; i < before + 502; ++i) {
        ASSERT_EQ(bus[i].out, 0x00) << i - before;
    }
    std::vector<uint8_t> want(512, 0);
    std::copy(ten.begin(), ten.end(), want.begin());
    const uint16_t crc = sim::sd_crc16(want.data(), want.size());
    EXPECT_EQ(bus[before + 502].out, crc >> 8);
    EXPECT_EQ(bus[before + 503].out, crc & 0xFF);
    EXPECT_EQ(bus[before + 504].out, 0xFF);

    EXPECT_EQ(rig.image.read_sector(4), want);
}

TEST(SectorWrite, DataResponseDecidesAndRejectedBlocksAreNotStored) {
    for (auto [response, result] :
         {std::pair{0x0B, RES_ERROR}, {0x0D, RES_ERROR}, {0xE5, RES_OK}, {0x05, RES_OK}}) {
        SdCardConfig config;
        config.faults.data_response = static_cast<uint8_t>(response);
        config.busy_bytes = 3;
        CardRig rig(patterned(16), config);
        ASSERT_EQ(disk_initialize(), 0);
        const std::vector<uint8_t> before = rig.image.read_sector(6);
        rig.board.clear_logs();
        std::vector<uint8_t> data(512, 0x33);
        ASSERT_EQ(disk_writep(nullptr, 6), RES_OK);
        ASSERT_EQ(disk_writep(data.data(), 512), RES_OK);
        EXPECT_EQ(disk_writep(nullptr, 0), result) << response;
        EXPECT_TRUE(rig.board.bus().back().cs_high);
        if (result == RES_OK) {
            EXPECT_EQ(rig.board.delay_calls(), 0u); // polled out before any delay
            EXPECT_EQ(rig.image.read_sector(6), data);
        } else {
            EXPECT_EQ(rig.board.delay_calls(), 0u); // no busy wait after a rejection
            EXPECT_EQ(rig.image.read_sector(6), before);
            EXPECT_TRUE(rig.image.write_log().empty());
        }
    }
}

TEST(SectorWrite, CardBusyForTwoSecondsFails) {
    SdCardConfig config;
    config.faults.busy_forever = true;
    CardRig rig(DiskImage::blank(16), config);
    ASSERT_EQ(disk_initialize(), 0);
    rig.board.clear_logs();
    std::vector<uint8_t> data(512, 1);
    ASSERT_EQ(disk_writep(nullptr, 1), RES_OK);
    disk_writep(data.data(), 512);
    EXPECT_EQ(disk_writep(nullptr, 0), RES_ERROR);
    EXPECT_EQ(rig.board.delay_calls(), 20000u);
    EXPECT_EQ(rig.board.delay_us_total(), 2'000'000u);
    EXPECT_TRUE(rig.board.bus().back().cs_high);
    EXPECT_TRUE(rig.image.write_log().empty());
}

TEST(SectorWrite, FailedStartKeepsTheCounterAndLeavesTheCardSelected) {
    CardRig rig(DiskImage::blank(16));
    ASSERT_EQ(disk_initialize(), 0);
    rig.board.set_ram_u32(sim::RAM_STATE + STATE_WC, 0xABCD0123);
    EXPECT_EQ(disk_writep(nullptr, 16), RES_ERROR); // beyond the card: parameter error
    EXPECT_EQ(rig.board.ram_u32(sim::RAM_STATE + STATE_WC), 0xABCD0123u);
    EXPECT_FALSE(rig.board.bus().back().cs_high);

    // The next frame deselects first, and the card is fine with that.
    uint8_t b[2];
    EXPECT_EQ(disk_readp(b, 0, 0, 2), RES_OK);

    // A failed start-up does not touch the counter either.
    SdCardConfig dead;
    dead.faults.never_ready = true;
    CardRig idle(DiskImage::blank(4), dead);
    idle.board.set_ram_u32(sim::RAM_STATE + STATE_WC, 0x01FE);
    ASSERT_EQ(disk_initialize(), STA_NOINIT);
    EXPECT_EQ(disk_writep(nullptr, 1), RES_ERROR);
    EXPECT_EQ(wc(idle.board), 0x01FEu);
}

TEST(SectorWrite, PowerCutInTheMiddleStoresNothing) {
    CardRig rig(patterned(16));
    ASSERT_EQ(disk_initialize(), 0);
    const std::vector<uint8_t> before = rig.image.read_sector(3);
    rig.card.config().faults.power_cut_after = rig.board.bus().size() + 200;
    std::vector<uint8_t> data(512, 0x77);
    ASSERT_EQ(disk_writep(nullptr, 3), RES_OK);
    ASSERT_EQ(disk_writep(data.data(), 512), RES_OK);
    EXPECT_EQ(disk_writep(nullptr, 0), RES_ERROR); // the data response reads 0xFF
    EXPECT_EQ(rig.image.read_sector(3), before);
    uint8_t b[2];
    EXPECT_EQ(disk_readp(b, 3, 0, 2), RES_ERROR);
    EXPECT_EQ(disk_initialize(), STA_NOINIT);
}

TEST(SectorWrite, FileImageIsWrittenInPlace) {
    char path[] = "/tmp/card_image_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        std::ofstream file(path, std::ios::binary);
        std::vector<char> zeros(8 * 512, 0);
        file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    {
        CardRig rig(DiskImage::open_file(path));
        EXPECT_EQ(rig.image.sector_count(), 8u);
        ASSERT_EQ(disk_initialize(), 0);
        std::vector<uint8_t> data(512);
        std::iota(data.begin(), data.end(), uint8_t{0});
        ASSERT_EQ(disk_writep(nullptr, 5), RES_OK);
        disk_writep(data.data(), 512);
        ASSERT_EQ(disk_writep(nullptr, 0), RES_OK);
    }
    std::ifstream file(path, std::ios::binary);
    std::vector<char> all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::remove(path);
    ASSERT_EQ(all.size(), 8u * 512u);
    for (size_t i = 0; i < all.size(); ++i) {
        const uint8_t want = i / 512 == 5 ? static_cast<uint8_t>(i % 512) : 0;
        ASSERT_EQ(static_cast<uint8_t>(all[i]), want) << i;
    }
}

TEST(SectorStream, ProtocolHoldsAcrossCardTimings) {
    for (uint32_t delay : {1u, 8u}) {
        for (auto [gap, busy] : {std::pair{0u, 0u}, {300u, 50u}}) {
            SdCardConfig config;
            config.type = delay == 8 ? CardType::Sd1 : CardType::Sd2Block;
            config.response_delay = delay;
            config.read_gap = gap;
            config.busy_bytes = busy;
            CardRig rig(patterned(8), config);
            ASSERT_EQ(disk_initialize(), 0);
            rig.board.clear_logs();
            const std::vector<uint8_t> data(512, static_cast<uint8_t>(delay + gap));
            ASSERT_EQ(disk_writep(nullptr, 7), RES_OK);
            ASSERT_EQ(disk_writep(data.data(), 512), RES_OK);
            ASSERT_EQ(disk_writep(nullptr, 0), RES_OK);
            EXPECT_EQ(rig.board.delay_calls(), 0u) << "a busy phase under 1,024 bytes needs no delay";
            std::vector<uint8_t> back(512);
            ASSERT_EQ(disk_readp(back.data(), 7, 0, 512), RES_OK);
            EXPECT_EQ(back, data);
            EXPECT_TRUE(rig.card.violations().empty());
        }
    }
}

} // namespace
