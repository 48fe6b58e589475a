// Partial-sector reads and the streamed sector write, through the exact bus
// protocol of the virtual card.
#include <gtest/gtest.h>

#include <numeric>

#include "card_rig.h"
#include "diskio.h"
#include "state_offsets.h"

namespace {

using sim::CardType;
using sim::DiskImage;
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

TEST(SectorRead, DeliversAnyRangeOfAnySectorOnEveryKind) {
    for (CardType type : {CardType::Mmc, CardType::Sd1, CardType::Sd2Byte, CardType::Sd2Block}) {
        sim::SdCardConfig config;
        config.type = type;
        CardRig rig(patterned(40), config);
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

TEST(SectorWrite, WholeSectorInPiecesReachesTheImageOnlyAfterFinish) {
    CardRig rig(DiskImage::blank(16));
    ASSERT_EQ(disk_initialize(), 0);
    std::vector<uint8_t> data(512);
    std::iota(data.begin(), data.end(), uint8_t{3});

    ASSERT_EQ(disk_writep(nullptr, 9), RES_OK);
    ASSERT_EQ(disk_writep(data.data(), 100), RES_OK);
    ASSERT_EQ(disk_writep(data.data() + 100, 100), RES_OK);
    ASSERT_EQ(disk_writep(data.data() + 200, 312), RES_OK);
    EXPECT_TRUE(rig.image.write_log().empty());
    ASSERT_EQ(disk_writep(nullptr, 0), RES_OK);

    EXPECT_EQ(rig.image.write_log(), std::vector<uint32_t>{9});
    EXPECT_EQ(rig.image.read_sector(9), data);
    EXPECT_TRUE(rig.card.violations().empty());
    std::vector<uint8_t> back(512);
    ASSERT_EQ(disk_readp(back.data(), 9, 0, 512), RES_OK);
    EXPECT_EQ(back, data);
}

} // namespace
