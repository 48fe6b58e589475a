// Mounting crafted volumes: the FAT type follows the cluster count, odd and
// broken boot sectors, partitions, and what a failed mount leaves behind.
#include <gtest/gtest.h>

#include "crafted_volume.h"
#include "fat_rig.h"
#include "write_guard.h"

namespace {

using fattest::BootFields;
using fattest::CraftedVolume;
using fattest::FatRig;
using Bytes = std::vector<uint8_t>;

sim::DiskImage disk(CraftedVolume& v) { return sim::DiskImage::from_bytes(v.bytes()); }

// A small FAT12 volume whose root holds FILE.TXT, 10 bytes in cluster 2.
sim::DiskImage one_file_disk() {
    BootFields boot;
    boot.clusters = 50;
    CraftedVolume v(boot, 12);
    v.entry(v.rootbase(), 0, "FILE    TXT", 0x20, 2, 10);
    v.chain({2});
    return disk(v);
}

struct Boundary {
    uint32_t clusters;
    int bits;
    uint8_t fs_type;
};

class ClusterCount : public ::testing::TestWithParam<Boundary> {};

// A file whose chain jumps to the last cluster and back can only be read when
// the entries are decoded in the layout the cluster count implies.
TEST_P(ClusterCount, DecidesTheTypeAndTheEntryLayout) {
    const Boundary b = GetParam();
    BootFields boot;
    boot.clusters = b.clusters;
    const uint32_t entries = b.clusters + 2;
    boot.fatsz = b.bits == 12 ? (entries * 3 / 2 + 511) / 512 : (entries * (b.bits / 8) + 511) / 512;
    if (b.bits == 32) {
        boot.root_entries = 0;
        boot.fa54 = false;
        boot.fa82 = true;
    }
    CraftedVolume v(boot, b.bits);
    const uint32_t last = b.clusters + 1;
    const std::vector<uint32_t> chain{3, last, 4, last - 1};
    v.chain(chain);
    if (b.bits == 32) {
        v.set_fat(3, 0xF0000000 | last); // the top four bits are not part of the entry
        v.chain({2});
    }
    const uint32_t root = b.bits == 32 ? v.cluster_sector(2) : v.rootbase();
    v.entry(root, 0, "CHAIN   BIN", 0x20, 3, 4 * 512 - 9);
    Bytes content;
    for (uint32_t i = 0; i < chain.size(); i++) {
        const Bytes piece = testsupport::pattern(512, i + 10);
        v.write(v.cluster_sector(chain[i]), 0, piece);
        content.insert(content.end(), piece.begin(), piece.end());
    }
    content.resize(4 * 512 - 9);

    FatRig rig(disk(v));
    ASSERT_EQ(rig.mount(), FR_OK);
    EXPECT_EQ(rig.fs.fs_type, b.fs_type);
    EXPECT_EQ(rig.fs.n_fatent, entries);
    EXPECT_EQ(rig.fs.database, v.database());
    FRESULT res;
    EXPECT_EQ(fattest::read_file(rig.fs, "CHAIN.BIN", 700, &res), content);
    EXPECT_EQ(res, FR_OK);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ClusterCount,
                         ::testing::Values(Boundary{4084, 12, 1}, Boundary{4085, 16, 2},
                                           Boundary{65524, 16, 2}, Boundary{65525, 32, 3}),
                         [](const auto& info) { return "Clusters" + std::to_string(info.param.clusters); });

// The FAT32 root is a cluster like any other: one outside the volume must not
// turn the card's first sector into a directory.
TEST(Mount, Fat32RootClusterOutsideTheVolumeIsADiskError) {
    for (uint32_t root : {0u, 1u, 65527u}) {
        SCOPED_TRACE(root);
        BootFields boot;
        boot.clusters = 65525;
        boot.fatsz = 512;
        boot.root_entries = 0;
        boot.fa54 = false;
        boot.fa82 = true;
        boot.root_clus = root;
        CraftedVolume v(boot, 32);
        FatRig rig(disk(v));
        ASSERT_EQ(rig.mount(), FR_OK);
        rig.clear_logs();
        DIR dj{};
        EXPECT_EQ(pf_opendir(&rig.fs, &dj, "/"), FR_DISK_ERR);
        EXPECT_EQ(pf_open(&rig.fs, "/X"), FR_DISK_ERR);
        EXPECT_EQ(rig.count(17), 0u);
    }
}

// Rounded down, the data area would begin on the root directory's last sector
// and a write into a file's first cluster would land there.
TEST(Mount, RootDirectoryTakesEveryStartedSector) {
    for (const uint16_t entries : {520, 17}) {
        SCOPED_TRACE(entries);
        BootFields boot;
        boot.root_entries = entries;
        boot.clusters = 100;
        CraftedVolume v(boot, 16);
        v.chain({2});
        v.entry(v.rootbase(), 0, "DATA    BIN", 0x20, 2, 300);
        const Bytes data = testsupport::pattern(300, 5);
        v.write(v.cluster_sector(2), 0, data);

        FatRig rig(disk(v));
        testsupport::allow_writes_to(rig.card.card, rig.card.image, "DATA.BIN");
        ASSERT_EQ(rig.mount(), FR_OK);
        EXPECT_EQ(rig.fs.database, v.rootbase() + (entries + 15u) / 16);
        EXPECT_EQ(fattest::read_file(rig.fs, "/DATA.BIN", 512), data);
        const Bytes last_root_sector = rig.card.image.read_sector(v.database() - 1);
        ASSERT_EQ(pf_lseek(&rig.fs, 0), FR_OK);
        uint32_t bw = 0;
        EXPECT_EQ(pf_write(&rig.fs, data.data(), 10, &bw), FR_OK);
        EXPECT_EQ(pf_write(&rig.fs, nullptr, 0, &bw), FR_OK);
        EXPECT_EQ(rig.card.image.read_sector(v.database() - 1), last_root_sector);
        EXPECT_EQ(fattest::read_file(rig.fs, "/DATA.BIN", 512).size(), 300u);
    }
}

TEST(Mount, FaMarkerAtEitherOffsetIsEnough) {
    for (const auto& [fa54, fa82] : {std::pair{true, false}, {false, true}}) {
        BootFields boot;
        boot.clusters = 50;
        boot.fa54 = fa54;
        boot.fa82 = fa82;
        CraftedVolume v(boot, 12);
        FatRig rig(disk(v));
        EXPECT_EQ(rig.mount(), FR_OK) << fa54;
        EXPECT_EQ(rig.fs.fs_type, 1);
        EXPECT_EQ(rig.fs.fatbase, 1u);
    }
}

TEST(Mount, OnlyTheFirstPartitionEntryCounts) {
    BootFields boot;
    boot.clusters = 50;
    {
        CraftedVolume v(boot, 12, 100);
        v.partition_entry(0, 0x83, 100); // any non-zero type will do
        FatRig rig(disk(v));
        ASSERT_EQ(rig.mount(), FR_OK);
        EXPECT_EQ(rig.fs.fatbase, 101u);
        EXPECT_EQ(rig.fs.dirbase, 101u + 16);
    }
    {
        CraftedVolume v(boot, 12, 100);
        v.partition_entry(0, 0x00, 100);
        v.partition_entry(1, 0x06, 100); // a valid volume behind the second entry is not looked for
        FatRig rig(disk(v));
        EXPECT_EQ(rig.mount(), FR_NO_FILESYSTEM);
    }
    {
        CraftedVolume v(boot, 12, 100);
        v.partition_entry(0, 0x06, 50); // the partition's first sector is blank
        FatRig rig(disk(v));
        EXPECT_EQ(rig.mount(), FR_NO_FILESYSTEM);
    }
}

TEST(Mount, SectorZeroWithoutSignatureOrMarkerIsNoFileSystem) {
    BootFields boot;
    boot.clusters = 50;
    CraftedVolume unsigned_volume(boot, 12);
    unsigned_volume.bytes()[510] = 0;
    FatRig a(disk(unsigned_volume));
    EXPECT_EQ(a.mount(), FR_NO_FILESYSTEM);

    boot.fa54 = false;
    CraftedVolume unmarked(boot, 12); // signed but no marker: read as an empty partition table
    FatRig b(disk(unmarked));
    EXPECT_EQ(b.mount(), FR_NO_FILESYSTEM);
}

// Geometry the masks and the cluster count cannot work with is refused, and
// the refusal leaves nothing mounted for the operations to walk.
TEST(Mount, BadGeometryIsRefusedAndLeavesNothingMounted) {
    struct Case {
        const char* what;
        uint8_t csize;
        uint32_t total;
        bool fat32_record = false; // FAT size only in the 32-bit field, as mkfs.fat -F 32 writes it
        bool no_root_entries = false;
    };
    for (const Case c : {Case{"no sectors per cluster", 0, 0}, Case{"three sectors per cluster", 3, 0},
                         Case{"96 sectors per cluster", 96, 0}, Case{"system area beyond the total", 1, 20},
                         Case{"FAT32 record with a FAT12 cluster count", 1, 0, true},
                         Case{"FAT12 record without root entries", 1, 0, false, true}}) {
        SCOPED_TRACE(c.what);
        FatRig rig(one_file_disk());
        ASSERT_EQ(rig.mount(), FR_OK);
        ASSERT_EQ(pf_open(&rig.fs, "FILE.TXT"), FR_OK);
        DIR dj{};
        ASSERT_EQ(pf_opendir(&rig.fs, &dj, "/"), FR_OK);

        // The card in the socket changes to one with a broken boot sector.
        Bytes boot_sector = rig.card.image.read_sector(0);
        boot_sector[13] = c.csize;
        if (c.total) {
            boot_sector[19] = static_cast<uint8_t>(c.total);
            boot_sector[20] = 0;
        }
        if (c.fat32_record) {
            boot_sector[36] = boot_sector[22];
            boot_sector[37] = boot_sector[23];
            boot_sector[38] = boot_sector[39] = 0;
            boot_sector[22] = boot_sector[23] = 0;
        }
        if (c.no_root_entries) {
            boot_sector[17] = boot_sector[18] = 0;
        }
        rig.card.image.write_sector(0, boot_sector);
        EXPECT_EQ(rig.mount(), FR_NO_FILESYSTEM);
        EXPECT_EQ(rig.fs.fs_type, 0);
        EXPECT_EQ(rig.fs.flag, 0);

        rig.clear_logs();
        uint32_t br = 99;
        Bytes buf(16);
        FILINFO fno{};
        EXPECT_EQ(pf_read(&rig.fs, buf.data(), 16, &br), FR_NOT_OPENED);
        EXPECT_EQ(br, 0u);
        EXPECT_EQ(pf_open(&rig.fs, "FILE.TXT"), FR_NOT_ENABLED);
        EXPECT_EQ(pf_readdir(&rig.fs, &dj, &fno), FR_NOT_ENABLED);
        EXPECT_EQ(pf_opendir(&rig.fs, &dj, "/"), FR_NOT_ENABLED);
        EXPECT_EQ(rig.count(17), 0u) << "nothing may walk the old geometry";
    }
}

TEST(Mount, CardThatDoesNotComeUpLeavesNothingMounted) {
    FatRig rig(one_file_disk());
    ASSERT_EQ(rig.mount(), FR_OK);
    ASSERT_EQ(pf_open(&rig.fs, "FILE.TXT"), FR_OK);
    rig.card.card.config().faults.never_ready = true;
    EXPECT_EQ(rig.mount(), FR_NOT_READY);
    EXPECT_EQ(rig.fs.fs_type, 0);
    EXPECT_EQ(pf_open(&rig.fs, "FILE.TXT"), FR_NOT_ENABLED);
}

TEST(Mount, RemountClosesTheOpenFile) {
    FatRig rig(one_file_disk());
    ASSERT_EQ(rig.mount(), FR_OK);
    ASSERT_EQ(pf_open(&rig.fs, "FILE.TXT"), FR_OK);
    ASSERT_EQ(rig.mount(), FR_OK);
    uint32_t br;
    uint8_t b;
    EXPECT_EQ(pf_read(&rig.fs, &b, 1, &br), FR_NOT_OPENED);
    EXPECT_EQ(pf_lseek(&rig.fs, 0), FR_NOT_OPENED);
}

TEST(Mount, NullRecordIsNotEnabled) {
    uint32_t br = 7, bw = 7;
    DIR dj{};
    FILINFO fno{};
    EXPECT_EQ(pf_open(nullptr, "X"), FR_NOT_ENABLED);
    EXPECT_EQ(pf_read(nullptr, &br, 1, &br), FR_NOT_ENABLED);
    EXPECT_EQ(br, 0u);
    EXPECT_EQ(pf_write(nullptr, &bw, 1, &bw), FR_NOT_ENABLED);
    EXPECT_EQ(bw, 0u);
    EXPECT_EQ(pf_lseek(nullptr, 0), FR_NOT_ENABLED);
    EXPECT_EQ(pf_opendir(nullptr, &dj, ""), FR_NOT_ENABLED);
    EXPECT_EQ(pf_readdir(nullptr, &dj, &fno), FR_NOT_ENABLED);
}

} // namespace
