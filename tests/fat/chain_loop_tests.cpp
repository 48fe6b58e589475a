// Chains that a corrupt FAT links back into themselves, in a file and in a
// directory: every walk ends in a disk error within a bounded number of FAT
// reads, instead of running on for hours or handing out the loop's data.
#include <gtest/gtest.h>

#include <algorithm>

#include "crafted_volume.h"
#include "fat_rig.h"

namespace {

using fattest::BootFields;
using fattest::CraftedVolume;
using fattest::FatRig;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t CLUSTERS = 60;         // the most a loop spans
constexpr uint32_t FAT16_CLUSTERS = 4100; // a FAT16 volume, whose straight lines are learnt from the FAT

struct Loop {
    uint32_t lead_in;
    uint32_t length;
};

// FILE.BIN (size 0xFFFFFFFF) and the directory LOOP share one chain from
// cluster 2: `lead_in` clusters, then `length` clusters that lead back to the
// loop's first. Every directory slot on it holds a live entry, so only the
// chain can end a walk.
sim::DiskImage looped_volume(Loop loop, int bits) {
    BootFields boot;
    boot.clusters = bits == 12 ? CLUSTERS : FAT16_CLUSTERS;
    boot.fatsz = bits == 12 ? 16 : 17;
    CraftedVolume v(boot, bits);
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < loop.lead_in + loop.length; i++) {
        chain.push_back(2 + i);
    }
    v.chain(chain);
    v.set_fat(chain.back(), 2 + loop.lead_in);
    v.entry(v.rootbase(), 0, "FILE    BIN", 0x20, 2, 0xFFFFFFFF);
    v.entry(v.rootbase(), 1, "LOOP       ", 0x10, 2, 0);
    for (uint32_t c : chain) {
        for (uint32_t slot = 0; slot < 16; slot++) {
            v.entry(v.cluster_sector(c), slot, "F" + std::to_string(100 + slot) + "    TXT", 0x20, 0, 0);
        }
    }
    return sim::DiskImage::from_bytes(v.bytes());
}

sim::SdCardConfig hang_guard() {
    sim::SdCardConfig config;
    config.faults.power_cut_after = 4'000'000; // far beyond any bounded walk here
    return config;
}

// On FAT16 the loop is a straight line that leads back to its start, which a
// walk crosses without reading the FAT: the check must still hold.
TEST(ChainLoop, FileAndDirectoryWalksEndInADiskErrorSoon) {
    for (const int bits : {12, 16}) {
        for (const Loop loop : {Loop{0, 1}, Loop{1, 1}, Loop{0, 2}, Loop{3, 2}, Loop{5, 7}, Loop{0, 9},
                                Loop{2, 40}, Loop{0, CLUSTERS}}) {
            SCOPED_TRACE(testing::Message()
                         << "FAT" << bits << " lead-in " << loop.lead_in << ", loop " << loop.length);
            // Brent's check meets the loop by the step after the first power of two
            // past the lead-in and the loop, plus one loop; and never takes more steps
            // than the FAT has entries.
            const uint32_t bound =
                std::min(3 * (loop.lead_in + loop.length), (bits == 12 ? CLUSTERS : FAT16_CLUSTERS) + 2) + 1;

            {
                FatRig rig(looped_volume(loop, bits), hang_guard());
                ASSERT_EQ(rig.mount(), FR_OK);
                ASSERT_EQ(pf_open(&rig.fs, "FILE.BIN"), FR_OK);
                rig.clear_logs();
                EXPECT_EQ(pf_lseek(&rig.fs, 0x7FFFFFF0), FR_DISK_ERR);
                EXPECT_LE(rig.fat_reads(), bound);
                EXPECT_EQ(rig.fs.flag, 0);
                EXPECT_TRUE(rig.card.card.powered());
            }
            {
                FatRig rig(looped_volume(loop, bits), hang_guard());
                ASSERT_EQ(rig.mount(), FR_OK);
                ASSERT_EQ(pf_open(&rig.fs, "FILE.BIN"), FR_OK);
                Bytes piece(512);
                uint32_t br = 0;
                uint32_t sectors = 0;
                FRESULT res = FR_OK;
                while (res == FR_OK && sectors <= 2 * CLUSTERS) {
                    res = pf_read(&rig.fs, piece.data(), 512, &br);
                    sectors += res == FR_OK ? 1 : 0;
                }
                EXPECT_EQ(res, FR_DISK_ERR);
                EXPECT_LE(sectors, bound);
            }
            {
                FatRig rig(looped_volume(loop, bits), hang_guard());
                ASSERT_EQ(rig.mount(), FR_OK);
                FRESULT res = FR_OK;
                const size_t listed = fattest::list_dir(rig.fs, "LOOP", &res).size();
                EXPECT_EQ(res, FR_DISK_ERR);
                EXPECT_LE(listed, 16 * bound);
                rig.clear_logs();
                EXPECT_EQ(pf_open(&rig.fs, "LOOP/MISSING.TXT"), FR_DISK_ERR);
                EXPECT_LE(rig.fat_reads(), bound);
                EXPECT_TRUE(rig.card.card.powered());
            }
        }
    }
}

} // namespace
