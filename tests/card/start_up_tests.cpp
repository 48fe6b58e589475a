// Bringing the card up: every kind of card, and the ways start-up fails.
#include <gtest/gtest.h>

#include "card_rig.h"
#include "diskio.h"
#include "state_offsets.h"

namespace {

using sim::CardType;
using sim::DiskImage;
using sim::SdCardConfig;
using testsupport::CardRig;

uint32_t card_kind(const sim::Board& board) { return board.ram_u32(sim::RAM_STATE + STATE_CARD_KIND); }

struct Sent {
    uint8_t index;
    uint32_t arg;
    uint8_t crc;
    bool app;
    bool operator==(const Sent&) const = default;
};

std::vector<Sent> sent(const sim::SdCard& card) {
    std::vector<Sent> v;
    for (const sim::CardCommand& c : card.commands()) {
        v.push_back({c.index, c.arg, c.crc, c.app});
    }
    return v;
}

SdCardConfig of_type(CardType type, uint32_t idle_attempts = 1) {
    SdCardConfig config;
    config.type = type;
    config.idle_attempts = idle_attempts;
    return config;
}

// Every frame opens with 0xFF deselected and 0xFF selected, and stays selected.
void expect_framed(const std::vector<sim::BusByte>& bus) {
    for (size_t i = 0; i < bus.size(); ++i) {
        if (bus[i].out == 0xFF || bus[i].cs_high) {
            continue;
        }
        ASSERT_GE(i, 2u);
        EXPECT_TRUE(bus[i - 2].cs_high && bus[i - 2].out == 0xFF) << "frame at byte " << i;
        EXPECT_TRUE(!bus[i - 1].cs_high && bus[i - 1].out == 0xFF) << "frame at byte " << i;
        for (size_t k = i; k < i + 6; ++k) {
            EXPECT_FALSE(bus.at(k).cs_high);
        }
        i += 5;
    }
}

// Every frame carries its CRC7, and CMD59 turns the card's checking on as soon
// as it has left the idle state.
TEST(StartUp, EveryKindFollowsItsOwnSequenceAndEndsFast) {
    const Sent cmd0{0, 0, 0x95, false}, cmd8{8, 0x1AA, 0x87, false}, cmd55{55, 0, 0x65, false};
    const Sent acmd41_hcs{41, 0x40000000, 0x77, true}, acmd41{41, 0, 0xE5, true}, cmd59{59, 1, 0x83, false};
    const Sent cmd58{58, 0, 0xFD, false}, cmd16{16, 512, 0x15, false}, cmd1{1, 0, 0xF9, false};
    struct Case {
        CardType type;
        uint32_t kind;
        std::vector<Sent> commands;
        uint32_t delays;
    };
    const Case cases[] = {
        {CardType::Sd2Block, 12, {cmd0, cmd8, cmd55, acmd41_hcs, cmd55, acmd41_hcs, cmd59, cmd58}, 1},
        {CardType::Sd2Byte, 4, {cmd0, cmd8, cmd55, acmd41_hcs, cmd55, acmd41_hcs, cmd59, cmd58}, 1},
        // The probe counts as the card's first attempt, not as one of the driver's.
        {CardType::Sd1, 2, {cmd0, cmd8, cmd55, acmd41, cmd55, acmd41, cmd59, cmd16}, 0},
        {CardType::Mmc, 1, {cmd0, cmd8, cmd55, cmd1, cmd1, cmd59, cmd16}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        CardRig rig(DiskImage::blank(8), of_type(c.type));
        rig.board.set_ram_u32(sim::RAM_STATE + STATE_CARD_KIND, 0xDEADBEEF);

        EXPECT_EQ(disk_initialize(), 0);
        EXPECT_EQ(card_kind(rig.board), c.kind);
        EXPECT_EQ(rig.board.spi2brg(), 2u);
        EXPECT_EQ(sent(rig.card), c.commands);
        EXPECT_EQ(rig.board.delay_calls(), c.delays);
        EXPECT_EQ(rig.board.delay_us_total(), 100u * c.delays);
        EXPECT_TRUE(rig.card.ready());
        EXPECT_TRUE(rig.card.violations().empty());

        const std::vector<sim::BusByte>& bus = rig.board.bus();
        ASSERT_GT(bus.size(), 11u);
        for (size_t i = 0; i < 10; ++i) {
            EXPECT_TRUE(bus[i].cs_high && bus[i].out == 0xFF);
        }
        for (const sim::BusByte& b : bus) {
            EXPECT_EQ(b.brg, 59u); // the fast rate comes only after the last byte
        }
        EXPECT_TRUE(bus.back().cs_high && bus.back().out == 0xFF);
        EXPECT_FALSE(bus[bus.size() - 2].cs_high);
        expect_framed(bus);
    }
}

TEST(StartUp, NoCardFailsAtOnceAndStaysSlow) {
    sim::Board board;
    sim::BoardScope scope(board);
    testsupport::wire_card(board, nullptr);
    board.set_ram_u32(sim::RAM_STATE + STATE_CARD_KIND, 12);

    EXPECT_EQ(disk_initialize(), STA_NOINIT);
    EXPECT_EQ(card_kind(board), 0u);
    EXPECT_EQ(board.spi2brg(), 59u);
    EXPECT_EQ(board.delay_calls(), 0u);
    // 10 wake-up bytes, one CMD0 frame with ten unanswered response bytes, one closing byte.
    EXPECT_EQ(board.bus().size(), 10u + 2u + 6u + 10u + 1u);
    EXPECT_TRUE(board.bus().back().cs_high);
}

TEST(StartUp, TenThousandAttemptsAreTheLimit) {
    for (CardType type : {CardType::Sd2Block, CardType::Mmc}) {
        // Ready exactly at the driver's 10,000th attempt; for MMC the refused probe
        // never reaches the card, so the card counts the same attempts.
        const uint32_t idle = 9999;
        {
            CardRig rig(DiskImage::blank(8), of_type(type, idle));
            EXPECT_EQ(disk_initialize(), 0);
            EXPECT_EQ(rig.board.delay_calls(), 9999u);
            EXPECT_NE(card_kind(rig.board), 0u);
        }
        {
            CardRig rig(DiskImage::blank(8), of_type(type, idle + 1));
            EXPECT_EQ(disk_initialize(), STA_NOINIT);
            EXPECT_EQ(rig.board.delay_calls(), 10000u);
            EXPECT_EQ(rig.board.delay_us_total(), 1'000'000u);
            EXPECT_EQ(card_kind(rig.board), 0u);
            EXPECT_EQ(rig.board.spi2brg(), 59u);
            EXPECT_FALSE(rig.card.ready());
            EXPECT_TRUE(rig.board.bus().back().cs_high);
        }
    }
}

TEST(StartUp, CardThatNeverLeavesIdleFails) {
    SdCardConfig config;
    config.faults.never_ready = true;
    CardRig rig(DiskImage::blank(8), config);
    EXPECT_EQ(disk_initialize(), STA_NOINIT);
    EXPECT_EQ(rig.board.delay_calls(), 10000u);
    EXPECT_EQ(card_kind(rig.board), 0u);
}

TEST(StartUp, RefusedCmd55MeansMmc) {
    SdCardConfig config = of_type(CardType::Sd1);
    config.faults.refuse_cmd55 = true;
    CardRig rig(DiskImage::blank(8), config);
    EXPECT_EQ(disk_initialize(), 0);
    EXPECT_EQ(card_kind(rig.board), KIND_MMC);
    // After the refused CMD55 the driver starts the card with CMD1, never ACMD41.
    for (const sim::CardCommand& c : rig.card.commands()) {
        EXPECT_NE(c.index, 41);
    }
    EXPECT_EQ(rig.card.commands()[3].index, 1);

    // A version 2 card whose CMD55 is refused can't be started at all.
    SdCardConfig v2;
    v2.faults.refuse_cmd55 = true;
    CardRig rig2(DiskImage::blank(8), v2);
    EXPECT_EQ(disk_initialize(), STA_NOINIT);
    EXPECT_EQ(card_kind(rig2.board), 0u);
}

TEST(StartUp, WrongR7RejectsTheCardWithoutFallingBack) {
    SdCardConfig bad_echo;
    bad_echo.faults.corrupt_r7_echo = true;
    SdCardConfig bad_voltage;
    bad_voltage.faults.refuse_voltage = true;
    for (const SdCardConfig& config : {bad_echo, bad_voltage}) {
        CardRig rig(DiskImage::blank(8), config);
        EXPECT_EQ(disk_initialize(), STA_NOINIT);
        EXPECT_EQ(card_kind(rig.board), 0u);
        ASSERT_EQ(rig.card.commands().size(), 2u); // CMD0, CMD8: no version 1 probe follows
        EXPECT_EQ(rig.card.commands()[1].response.size(), 5u);
        EXPECT_EQ(rig.board.delay_calls(), 0u);
        EXPECT_TRUE(rig.board.bus().back().cs_high);
    }
}

TEST(StartUp, VersionOneCardReadyAtTheProbeIsStillSd) {
    CardRig rig(DiskImage::blank(8), of_type(CardType::Sd1, 0));
    EXPECT_EQ(disk_initialize(), 0);
    EXPECT_EQ(card_kind(rig.board), KIND_SD1);
    EXPECT_EQ(rig.board.delay_calls(), 0u);
}

TEST(StartUp, AnswerAtTheTenthResponseByteCountsTheEleventhIsNeverRead) {
    SdCardConfig config;
    config.response_delay = 9;
    {
        CardRig rig(DiskImage::blank(8), config);
        EXPECT_EQ(disk_initialize(), 0);
        EXPECT_EQ(card_kind(rig.board), 12u);
    }
    config.response_delay = 10;
    {
        CardRig rig(DiskImage::blank(8), config);
        EXPECT_EQ(disk_initialize(), STA_NOINIT);
        ASSERT_EQ(rig.card.commands().size(), 1u);
        EXPECT_EQ(rig.board.bus().size(), 10u + 2u + 6u + 10u + 1u);
    }
}

TEST(StartUp, RestartsAFormerlyRunningCardFromCmd0) {
    CardRig rig(DiskImage::blank(8));
    ASSERT_EQ(disk_initialize(), 0);
    rig.card.clear_logs();
    ASSERT_EQ(disk_initialize(), 0);
    EXPECT_EQ(rig.card.commands().front().index, 0);
    EXPECT_EQ(card_kind(rig.board), 12u);
    EXPECT_TRUE(rig.card.violations().empty());
}

} // namespace
