// Bringing the card up: every kind of card, and the ways start-up fails.
#include <gtest/gtest.h>

#include "card_rig.h"
#include "diskio.h"
#include "state_offsets.h"

namespace {

using sim::CardType;
using sim::DiskImage;
using testsupport::CardRig;

uint32_t card_kind(const sim::Board& board) { return board.ram_u32(sim::RAM_STATE + STATE_CARD_KIND); }

TEST(StartUp, EveryKindIsRecognised) {
    const std::pair<CardType, uint32_t> kinds[] = {
        {CardType::Mmc, 1}, {CardType::Sd1, 2}, {CardType::Sd2Byte, 4}, {CardType::Sd2Block, 12}};
    for (auto [type, kind] : kinds) {
        sim::SdCardConfig config;
        config.type = type;
        config.idle_attempts = 3;
        CardRig rig(DiskImage::blank(8), config);
        EXPECT_EQ(disk_initialize(), 0);
        EXPECT_EQ(card_kind(rig.board), kind);
        EXPECT_EQ(rig.board.spi2brg(), 2u);
        EXPECT_TRUE(rig.card.ready());
        EXPECT_TRUE(rig.card.violations().empty());
    }
}

} // namespace
