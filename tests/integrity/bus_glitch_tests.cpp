// Single bits flipped on data-in, one at a time, over every byte of a data
// block the module reads while it writes: each flip is caught by the block's
// CRC16 and fails the command as a disk error before anything decided from a
// corrupt byte reaches the card.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "integrity_rig.h"
#include "sd_crc.h"
#include "sdtypes.h"
#include "write_guard.h"

namespace {

using integrity::Rig;
using testsupport::pattern;

constexpr size_t BLOCK_WITH_CRC = 514;

// Index in the call's bus record of the first data byte of a block read:
// the last one, or the one `from_end` reads before it.
size_t block_start(const Rig& rig, size_t from_end) {
    const std::vector<sim::BusByte>& bus = rig.board.bus();
    const uint32_t sector = rig.card->reads().at(rig.card->reads().size() - 1 - from_end);
    uint8_t frame[6] = {0x51, static_cast<uint8_t>(sector >> 24), static_cast<uint8_t>(sector >> 16),
                        static_cast<uint8_t>(sector >> 8), static_cast<uint8_t>(sector)};
    frame[5] = sim::sd_frame_crc_byte(frame);
    for (size_t i = bus.size() - 6; i-- > 0;) {
        if (std::equal(frame, frame + 6, bus.begin() + static_cast<std::ptrdiff_t>(i),
                       [](uint8_t f, const sim::BusByte& b) { return f == b.out; })) {
            size_t t = i + 6;
            while (bus.at(t).in != 0xFE) {
                ++t;
            }
            return t + 1;
        }
    }
    ADD_FAILURE() << "no read of sector " << sector << " on the bus";
    return 0;
}

struct Sweep {
    const char* name;
    int fat;
    std::function<void(Rig&)> command;
    size_t reads_from_end; // which block: 0 the last one read
    std::string messages;  // of every flipped run
};

class BusGlitch : public ::testing::TestWithParam<Sweep> {};

TEST_P(BusGlitch, EveryBitOfTheBlockIsADiskError) {
    const Sweep& sweep = GetParam();
    testsupport::ScratchDir dir;
    testsupport::Volume vol(dir.file("card.img"), integrity::volume_shape(sweep.fat));
    vol.put("/TARGET.BIN", pattern(8192, 1));
    vol.put("/OTHER.BIN", pattern(3000, 3));
    const std::vector<uint8_t> base = vol.bytes();
    Rig rig(base);
    rig.power_up();
    testsupport::allow_writes_to(*rig.card, rig.image, "TARGET.BIN");

    rig.open("TARGET.BIN");
    uint64_t start = rig.card->bytes_seen();
    sweep.command(rig);
    ASSERT_EQ(rig.board.console(), "");
    const size_t block = block_start(rig, sweep.reads_from_end);

    int errors = 0;
    for (size_t byte = 0; byte < BLOCK_WITH_CRC; ++byte) {
        for (uint8_t bit = 0; bit < 8; ++bit) {
            SCOPED_TRACE("byte " + std::to_string(byte) + " bit " + std::to_string(bit));
            rig.restore(base);
            rig.card->config().faults.glitches.clear();
            rig.open("TARGET.BIN");
            start = rig.card->bytes_seen();
            rig.card->config().faults.glitches = {{start + block + byte + 1, bit}};
            sweep.command(rig);
            ASSERT_NE(rig.card->fault_fired_at(), 0u);
            ASSERT_EQ(rig.board.console(), sweep.messages);
            ASSERT_TRUE(rig.card->refused_writes().empty());
            errors += rig.board.console().rfind("Disk Error\r\n", 0) == 0;
        }
    }
    std::printf("[ figures  ] %s: %zu single-bit flips, %d disk errors, %zu writes outside the file\n",
                sweep.name, BLOCK_WITH_CRC * 8, errors, rig.card->refused_writes().size());
}

// Its seek reads the FAT sector that holds the file's line of clusters, and
// its last sector, in the next cluster, is read back before it is written.
void write_across_clusters(Rig& r) { r.write(1536, pattern(600, 4)); }
void write_unaligned(Rig& r) { r.write(700, pattern(100, 5)); }

// A failed seek, then the finish.
const std::string SEEK_FAILED = "Disk Error\r\nNot Opened\r\n";
// A failed read back, then the seek back, the write back and the finish.
const std::string READ_BACK_FAILED = "Disk Error\r\nNot Opened\r\nNot Opened\r\nNot Opened\r\n";

INSTANTIATE_TEST_SUITE_P(
    Blocks, BusGlitch,
    ::testing::Values(Sweep{"FatEntryOfAWriteFat16", 16, write_across_clusters, 1, SEEK_FAILED},
                      Sweep{"FatEntryOfAWriteFat32", 32, write_across_clusters, 1, SEEK_FAILED},
                      Sweep{"LastSectorReadBackFat16", 16, write_across_clusters, 0, READ_BACK_FAILED},
                      Sweep{"SectorReadBackOfAnUnalignedWrite", 16, write_unaligned, 0, READ_BACK_FAILED}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
