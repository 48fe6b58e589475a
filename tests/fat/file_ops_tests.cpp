// What the open file, the walk and the listing cost on the card and how they
// step: one 32-byte read per entry visited, one FAT read per straight line of
// clusters, one block read per piece; seeks, the sector write stream, and
// broken chains.
#include <gtest/gtest.h>

#include "crafted_volume.h"
#include "fat_rig.h"

namespace {

using fattest::FatRig;
using testsupport::ScratchDir;
using testsupport::Volume;
using testsupport::VolumeSpec;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t CMD17 = 17;
constexpr uint8_t CMD24 = 24;

VolumeSpec fat16_one_sector_clusters() {
    VolumeSpec shape;
    shape.fat = 16;
    shape.size_kib = 4096;
    shape.label = "OPS";
    return shape;
}

// Root slots: 0 label, 1 A.TXT, 2 B.TXT, 3 C.TXT, 4 TEN.BIN, 5 W.BIN, 6 SIX.BIN, 7 D1, 8 end.
class FileOps : public ::testing::Test {
  protected:
    FileOps() : vol_(scratch_.file("ops.img"), fat16_one_sector_clusters()) {
        for (const char* name : {"/A.TXT", "/B.TXT", "/C.TXT"}) {
            vol_.put(name, testsupport::pattern(10, 1));
        }
        vol_.put("/TEN.BIN", ten_);
        vol_.put("/W.BIN", testsupport::pattern(2048, 3));
        vol_.put("/SIX.BIN", testsupport::pattern(600, 4));
        vol_.mkdir("/D1");
        vol_.mkdir("/D1/D2");
        vol_.put("/D1/D2/DEEP.TXT", testsupport::pattern(5, 5));
        rig_ = std::make_unique<FatRig>(vol_);
        EXPECT_EQ(rig_->mount(), FR_OK);
        rig_->clear_logs();
    }

    FATFS& fs() { return rig_->fs; }
    // Sector of file byte `ofs` for a contiguous file at one sector per cluster.
    uint32_t sector_of(uint32_t ofs) { return clust2sect(&fs(), fs().org_clust) + ofs / 512; }
    Bytes read(uint32_t n) {
        Bytes b(n);
        uint32_t br = 0;
        EXPECT_EQ(pf_read(&fs(), b.data(), n, &br), FR_OK);
        b.resize(br);
        return b;
    }
    Bytes ten_slice(size_t from, size_t n) { return Bytes(ten_.begin() + from, ten_.begin() + from + n); }

    const Bytes ten_ = testsupport::pattern(10 * 512 + 5, 2);
    ScratchDir scratch_;
    Volume vol_;
    std::unique_ptr<FatRig> rig_;
};

TEST_F(FileOps, PathWalkReadsOneEntryPerSlotVisited) {
    ASSERT_EQ(pf_open(&fs(), "/C.TXT"), FR_OK);
    EXPECT_EQ(rig_->args(CMD17), std::vector<uint32_t>(4, fs().dirbase)); // label, A, B, C

    rig_->clear_logs();
    EXPECT_EQ(pf_open(&fs(), "/NOPE.TXT"), FR_NO_FILE);
    EXPECT_EQ(rig_->count(CMD17), 9u); // every slot up to the end marker

    rig_->clear_logs();
    ASSERT_EQ(pf_open(&fs(), "/D1/D2/DEEP.TXT"), FR_OK);
    EXPECT_EQ(rig_->count(CMD17), 8u + 3 + 3); // D1 in the root, then ".", ".." and the name in each level
    EXPECT_EQ(rig_->fat_reads(), 0u);
}

// TEN.BIN lies in a straight line of eleven clusters, whose entries share a
// FAT sector: the first step out of its first cluster reads that sector and
// learns the whole line, and no other step or seek reads the FAT again.
TEST_F(FileOps, EachPieceIsOneBlockReadAndAStraightFileOneFatRead) {
    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    ASSERT_EQ(pf_lseek(&fs(), 100), FR_OK);
    rig_->clear_logs();
    EXPECT_EQ(read(1000), ten_slice(100, 1000)); // pieces of 412, 512 and 76 bytes
    EXPECT_EQ(rig_->reads_in(fs().database, 100000), 3u);
    EXPECT_EQ(rig_->fat_reads(), 1u);
    EXPECT_EQ(rig_->count(CMD17), 4u);

    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    rig_->clear_logs();
    Bytes all;
    for (Bytes piece; !(piece = read(512)).empty();) {
        all.insert(all.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(all, ten_);
    EXPECT_EQ(rig_->fat_reads(), 1u);
    EXPECT_EQ(rig_->count(CMD17), 12u);
    EXPECT_TRUE(read(10).empty()); // at the end: nothing, and no card access
    EXPECT_EQ(rig_->count(CMD17), 12u);
}

TEST_F(FileOps, SeeksInsideAKnownLineAreArithmetic) {
    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    const uint32_t first = fs().org_clust;
    rig_->clear_logs();

    ASSERT_EQ(pf_lseek(&fs(), 512), FR_OK); // exactly one cluster: nothing to walk
    EXPECT_EQ(rig_->count(CMD17), 0u);
    EXPECT_EQ(fs().curr_clust, first);
    EXPECT_EQ(read(1), ten_slice(512, 1)); // the read moves into the second cluster
    EXPECT_EQ(rig_->fat_reads(), 1u);
    EXPECT_EQ(rig_->args(CMD17).front(), fs().fatbase + first / 256);

    rig_->clear_logs();
    ASSERT_EQ(pf_lseek(&fs(), 5 * 512 + 10), FR_OK); // forward, on the line
    EXPECT_EQ(rig_->count(CMD17), 0u);
    EXPECT_EQ(fs().fptr, 5u * 512 + 10);
    EXPECT_EQ(read(20), ten_slice(5 * 512 + 10, 20));

    rig_->clear_logs();
    ASSERT_EQ(pf_lseek(&fs(), 3 * 512), FR_OK); // backward, on the line
    EXPECT_EQ(rig_->count(CMD17), 0u);
    EXPECT_EQ(fs().curr_clust, first + 2);
    rig_->clear_logs();
    ASSERT_EQ(pf_lseek(&fs(), 3 * 512), FR_OK); // where it stands: no walk
    EXPECT_EQ(rig_->count(CMD17), 0u);
    EXPECT_EQ(read(600), ten_slice(3 * 512, 600));

    ASSERT_EQ(pf_lseek(&fs(), 999999), FR_OK); // clipped to the size
    EXPECT_EQ(fs().fptr, ten_.size());
    ASSERT_EQ(pf_lseek(&fs(), 0), FR_OK);
    EXPECT_EQ(read(7), ten_slice(0, 7));
}

// A file in three lines of clusters, out of order on the card, with another
// file's clusters between them: each line costs the FAT read that reaches it
// and the one that shows where it goes, a seek back into the first line or
// onto the line the file stands on reads nothing, and the bytes are the file's.
TEST(Fragments, EachLineCostsTwoFatReadsAndKnownLinesNone) {
    fattest::BootFields boot;
    boot.clusters = 4100; // FAT16
    boot.fatsz = 17;
    fattest::CraftedVolume v(boot, 16);
    std::vector<uint32_t> chain;
    for (const auto& [first, last] : {std::pair{2u, 9u}, {300u, 309u}, {12u, 15u}}) {
        for (uint32_t c = first; c <= last; c++) {
            chain.push_back(c);
        }
    }
    v.chain(chain);
    v.chain({10, 11, 16, 17}); // the other file
    const Bytes content = testsupport::pattern(chain.size() * 512, 7);
    for (size_t i = 0; i < chain.size(); i++) {
        v.write(v.cluster_sector(chain[i]), 0,
                Bytes(content.begin() + i * 512, content.begin() + (i + 1) * 512));
    }
    v.entry(v.rootbase(), 0, "FRAG    BIN", 0x20, 2, static_cast<uint32_t>(content.size()));
    FatRig rig(sim::DiskImage::from_bytes(v.bytes()));
    ASSERT_EQ(rig.mount(), FR_OK);
    ASSERT_EQ(pf_open(&rig.fs, "FRAG.BIN"), FR_OK);
    rig.clear_logs();

    EXPECT_EQ(fattest::read_file(rig.fs, "FRAG.BIN", 512), content);
    EXPECT_EQ(rig.fat_reads(), 1u + 2 + 2);
    auto seek_and_read = [&](uint32_t cluster_index) {
        rig.clear_logs();
        EXPECT_EQ(pf_lseek(&rig.fs, cluster_index * 512 + 5), FR_OK);
        Bytes b(10);
        uint32_t br = 0;
        EXPECT_EQ(pf_read(&rig.fs, b.data(), 10, &br), FR_OK);
        EXPECT_EQ(
            b, Bytes(content.begin() + cluster_index * 512 + 5, content.begin() + cluster_index * 512 + 15));
    };
    seek_and_read(3); // the first line
    EXPECT_EQ(rig.fat_reads(), 0u);
    seek_and_read(20); // into the third line: walked from the first line's end
    EXPECT_EQ(rig.fat_reads(), 4u);
    seek_and_read(19); // on the line the file stands on
    EXPECT_EQ(rig.fat_reads(), 0u);
    EXPECT_EQ(rig.fs.curr_clust, 13u);
}

TEST_F(FileOps, ChainShorterThanTheSizeClosesTheFile) {
    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    const uint32_t third = fs().org_clust + 2;
    Bytes fat = rig_->card.image.read_sector(fs().fatbase + third / 256);
    fat[(third % 256) * 2] = 0xFF; // end of chain after three clusters
    fat[(third % 256) * 2 + 1] = 0xFF;
    rig_->card.image.write_sector(fs().fatbase + third / 256, fat);

    Bytes buf(ten_.size());
    uint32_t br = 0;
    EXPECT_EQ(pf_read(&fs(), buf.data(), static_cast<uint32_t>(buf.size()), &br), FR_DISK_ERR);
    EXPECT_EQ(br, 3u * 512);
    EXPECT_EQ(fs().fptr, 3u * 512);
    EXPECT_EQ(fs().flag, 0);
    buf.resize(br);
    EXPECT_EQ(buf, ten_slice(0, 3 * 512));
    EXPECT_EQ(pf_read(&fs(), buf.data(), 1, &br), FR_NOT_OPENED);

    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    EXPECT_EQ(pf_lseek(&fs(), 4000), FR_DISK_ERR);
    EXPECT_EQ(fs().flag, 0);
    EXPECT_EQ(pf_lseek(&fs(), 0), FR_NOT_OPENED);
}

TEST_F(FileOps, FirstClusterIsTheLowHalfOnFat16AndZeroIsBroken) {
    Bytes root = rig_->card.image.read_sector(fs().dirbase);
    root[4 * 32 + 20] = 0x34; // TEN.BIN: a high half only FAT32 would use
    root[4 * 32 + 21] = 0x12;
    root[1 * 32 + 26] = 0; // A.TXT: ten bytes but no cluster
    root[1 * 32 + 27] = 0;
    rig_->card.image.write_sector(fs().dirbase, root);

    EXPECT_EQ(fattest::read_file(fs(), "/TEN.BIN", 4096), ten_);
    ASSERT_EQ(pf_open(&fs(), "/A.TXT"), FR_OK);
    uint8_t b[10];
    uint32_t br = 0;
    EXPECT_EQ(pf_read(&fs(), b, 10, &br), FR_DISK_ERR);
    EXPECT_EQ(br, 0u);
    EXPECT_EQ(fs().flag, 0);
}

TEST_F(FileOps, NullBufferEndsTheFileWithoutTouchingCardOrPosition) {
    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    ASSERT_EQ(pf_lseek(&fs(), 100), FR_OK);
    rig_->clear_logs();
    uint32_t n = 55;
    EXPECT_EQ(pf_read(&fs(), nullptr, 10, &n), FR_DISK_ERR);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(fs().flag, 0); // ended like every other disk error
    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    ASSERT_EQ(pf_lseek(&fs(), 100), FR_OK);
    rig_->clear_logs();
    n = 55;
    EXPECT_EQ(pf_write(&fs(), nullptr, 10, &n), FR_DISK_ERR); // would start a write of sector 10
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(fs().flag, 0);
    EXPECT_TRUE(rig_->card.card.commands().empty());
    EXPECT_EQ(fs().fptr, 100u);
}

TEST_F(FileOps, WriteOf700BytesLeavesTheSecondSectorOpenUntilFinished) {
    ASSERT_EQ(pf_open(&fs(), "/W.BIN"), FR_OK);
    const uint32_t s0 = sector_of(0);
    const Bytes data = testsupport::pattern(700, 40);
    uint32_t bw = 0;
    ASSERT_EQ(pf_write(&fs(), data.data(), 700, &bw), FR_OK);
    EXPECT_EQ(bw, 700u);
    EXPECT_EQ(fs().fptr, 700u);
    EXPECT_EQ(fs().flag, FLAG_OPEN | FLAG_WRITING);
    EXPECT_EQ(rig_->args(CMD24), (std::vector<uint32_t>{s0, s0 + 1}));
    EXPECT_EQ(rig_->fat_reads(), 1u); // into the second cluster

    ASSERT_EQ(pf_write(&fs(), nullptr, 0, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    EXPECT_EQ(fs().flag, FLAG_OPEN);
    EXPECT_EQ(fs().fptr, 700u);
    EXPECT_EQ(rig_->card.image.read_sector(s0), Bytes(data.begin(), data.begin() + 512));
    Bytes second(data.begin() + 512, data.end());
    second.resize(512, 0); // the rest of the sector is filler
    EXPECT_EQ(rig_->card.image.read_sector(s0 + 1), second);
    EXPECT_TRUE(rig_->card.card.violations().empty());
}

TEST_F(FileOps, WritesOf100And412BytesMakeOneSectorWrite) {
    ASSERT_EQ(pf_open(&fs(), "/W.BIN"), FR_OK);
    ASSERT_EQ(pf_lseek(&fs(), 1000), FR_OK);
    rig_->clear_logs();
    const Bytes data = testsupport::pattern(512, 41);
    uint32_t bw = 0;
    ASSERT_EQ(pf_write(&fs(), data.data(), 100, &bw), FR_OK);
    EXPECT_EQ(fs().fptr, 612u); // the write began at the head of the sector holding byte 1000
    EXPECT_EQ(fs().flag, FLAG_OPEN | FLAG_WRITING);
    ASSERT_EQ(pf_write(&fs(), data.data() + 100, 412, &bw), FR_OK);
    EXPECT_EQ(fs().fptr, 1024u);
    EXPECT_EQ(fs().flag, FLAG_OPEN);
    EXPECT_EQ(rig_->args(CMD24), std::vector<uint32_t>{sector_of(512)});
    EXPECT_EQ(rig_->count(CMD17), 0u); // the sector's cluster was already current
    EXPECT_EQ(rig_->card.image.read_sector(sector_of(512)), data);
}

TEST_F(FileOps, WritesAreClippedAtTheSizeAndFinishWithoutSectorIsFree) {
    ASSERT_EQ(pf_open(&fs(), "/W.BIN"), FR_OK);
    uint32_t bw = 9;
    ASSERT_EQ(pf_lseek(&fs(), 2048), FR_OK);
    rig_->clear_logs();
    EXPECT_EQ(pf_write(&fs(), "x", 1, &bw), FR_OK);
    EXPECT_EQ(bw, 0u);
    EXPECT_EQ(pf_write(&fs(), nullptr, 0, &bw), FR_OK);
    EXPECT_TRUE(rig_->card.card.commands().empty());

    ASSERT_EQ(pf_open(&fs(), "/SIX.BIN"), FR_OK);
    const Bytes data = testsupport::pattern(1000, 42);
    ASSERT_EQ(pf_write(&fs(), data.data(), 1000, &bw), FR_OK);
    EXPECT_EQ(bw, 600u);
    EXPECT_EQ(fs().flag, FLAG_OPEN | FLAG_WRITING); // 88 bytes into the second sector
    ASSERT_EQ(pf_write(&fs(), nullptr, 0, &bw), FR_OK);
    ASSERT_EQ(pf_open(&fs(), "/SIX.BIN"), FR_OK);
    EXPECT_EQ(read(600), Bytes(data.begin(), data.begin() + 600));
}

TEST_F(FileOps, WritesAfterReadsContinueTheChainTheReadsFollowed) {
    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    read(700); // fptr 700, in the second cluster
    rig_->clear_logs();
    const Bytes data = testsupport::pattern(1024, 43);
    uint32_t bw = 0;
    ASSERT_EQ(pf_write(&fs(), data.data(), 1024, &bw), FR_OK);
    EXPECT_EQ(rig_->args(CMD24), (std::vector<uint32_t>{sector_of(512), sector_of(1024)}));
    EXPECT_EQ(rig_->fat_reads(), 0u); // the reads learnt the line
    EXPECT_EQ(fs().fptr, 1536u);
    Bytes expect = ten_;
    std::copy(data.begin(), data.end(), expect.begin() + 512);
    ASSERT_EQ(pf_open(&fs(), "/TEN.BIN"), FR_OK);
    EXPECT_EQ(read(6000), expect);
    EXPECT_EQ(vol_.fsck_problems(), "");
}

TEST_F(FileOps, ListingReportsEntriesAsStoredAndRewinds) {
    // Rename A.TXT and B.TXT in place to names mtools would not make.
    Bytes root = rig_->card.image.read_sector(fs().dirbase);
    const std::string kanji = "\x05"
                              "B\x05     TXT",
                      spaced = "AB CD   TXT";
    std::copy(kanji.begin(), kanji.end(), root.begin() + 32);
    std::copy(spaced.begin(), spaced.end(), root.begin() + 64);
    rig_->card.image.write_sector(fs().dirbase, root);

    DIR dj{};
    ASSERT_EQ(pf_opendir(&fs(), &dj, ""), FR_OK);
    FILINFO fno{};
    std::vector<std::string> names;
    std::vector<FILINFO> infos;
    while (pf_readdir(&fs(), &dj, &fno) == FR_OK && fno.fname[0]) {
        names.emplace_back(fno.fname);
        infos.push_back(fno);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"\xE5"
                                               "B\x05.TXT",
                                               "AB.TXT", "C.TXT", "TEN.BIN", "W.BIN", "SIX.BIN", "D1"}));
    EXPECT_EQ(infos[3].fsize, ten_.size());
    EXPECT_EQ(infos[3].fattrib & 0x10, 0);
    EXPECT_EQ(infos[6].fattrib & 0x10, 0x10);
    EXPECT_EQ(infos[3].fdate, root[4 * 32 + 24] | root[4 * 32 + 25] << 8);
    EXPECT_EQ(infos[3].ftime, root[4 * 32 + 22] | root[4 * 32 + 23] << 8);

    // The end stays the end, and leaves the other fields alone.
    EXPECT_EQ(pf_readdir(&fs(), &dj, &fno), FR_OK);
    EXPECT_EQ(fno.fname[0], 0);
    EXPECT_EQ(fno.fsize, infos[6].fsize);
    EXPECT_EQ(pf_readdir(&fs(), &dj, nullptr), FR_OK); // rewind
    ASSERT_EQ(pf_readdir(&fs(), &dj, &fno), FR_OK);
    EXPECT_EQ(std::string(fno.fname), names[0]);

    vol_.mkdir("/EMPTY");
    EXPECT_TRUE(fattest::list_dir(fs(), "/EMPTY").empty());
    FRESULT res;
    fattest::list_dir(fs(), "/TEN.BIN", &res);
    EXPECT_EQ(res, FR_NO_FILE);
}

TEST(CardKinds, ReadAndWriteThroughByteAndBlockAddressing) {
    for (sim::CardType type :
         {sim::CardType::Mmc, sim::CardType::Sd1, sim::CardType::Sd2Byte, sim::CardType::Sd2Block}) {
        SCOPED_TRACE(static_cast<int>(type));
        ScratchDir scratch;
        VolumeSpec shape = fat16_one_sector_clusters();
        shape.partition_start = 63;
        const Volume vol(scratch.file("kinds.img"), shape);
        const Bytes data = testsupport::pattern(3000, 8);
        vol.put("/DATA.BIN", data);
        sim::SdCardConfig config;
        config.type = type;
        FatRig rig(vol, config);
        ASSERT_EQ(rig.mount(), FR_OK);
        EXPECT_EQ(fattest::read_file(rig.fs, "/DATA.BIN", 1000), data);

        const Bytes fresh = testsupport::pattern(1024, 9);
        ASSERT_EQ(pf_lseek(&rig.fs, 1024), FR_OK);
        uint32_t bw = 0;
        ASSERT_EQ(pf_write(&rig.fs, fresh.data(), 1024, &bw), FR_OK);
        Bytes expect = data;
        std::copy(fresh.begin(), fresh.end(), expect.begin() + 1024);
        EXPECT_EQ(vol.get("/DATA.BIN"), expect);
        EXPECT_EQ(vol.fsck_problems(), "");
    }
}

TEST(RootDirectory, EndsAtItsLastEntryWithoutEndMarker) {
    ScratchDir scratch;
    VolumeSpec shape = fat16_one_sector_clusters();
    shape.root_entries = 16;
    const Volume vol(scratch.file("full.img"), shape);
    std::vector<std::pair<std::string, Bytes>> files;
    for (int i = 0; i < 15; i++) { // with the label, every slot is taken
        files.emplace_back("R" + std::to_string(i) + ".TXT",
                           testsupport::pattern(3, static_cast<uint32_t>(i)));
    }
    vol.put_many("/", files);

    FatRig rig(vol);
    ASSERT_EQ(rig.mount(), FR_OK);
    ASSERT_EQ(rig.fs.n_rootdir, 16);
    rig.clear_logs();
    EXPECT_EQ(pf_open(&rig.fs, "/MISSING"), FR_NO_FILE);
    EXPECT_EQ(rig.args(CMD17), std::vector<uint32_t>(16, rig.fs.dirbase));

    EXPECT_EQ(fattest::list_dir(rig.fs, "/"), vol.short_names("/"));
    EXPECT_EQ(fattest::list_dir(rig.fs, "/").size(), 15u);
    EXPECT_EQ(fattest::read_file(rig.fs, "/R14.TXT", 10), files.back().second);
}

TEST(Fat12, EntryStraddlingTwoFatSectorsIsReadInTwoParts) {
    ScratchDir scratch;
    VolumeSpec shape;
    shape.fat = 12;
    shape.size_kib = 1024;
    const Volume vol(scratch.file("fat12.img"), shape);
    vol.put("/FILLER.BIN", Bytes(338 * 512, 1)); // clusters 2 to 339
    const Bytes target = testsupport::pattern(4 * 512, 7);
    vol.put("/TARGET.BIN", target);

    FatRig rig(vol);
    ASSERT_EQ(rig.mount(), FR_OK);
    ASSERT_EQ(pf_open(&rig.fs, "/TARGET.BIN"), FR_OK);
    ASSERT_EQ(rig.fs.org_clust, 340u); // entry 341 lies at FAT bytes 511 and 512
    rig.clear_logs();
    Bytes got(4 * 512);
    uint32_t br = 0;
    ASSERT_EQ(pf_read(&rig.fs, got.data(), 4 * 512, &br), FR_OK);
    EXPECT_EQ(got, target);
    const uint32_t f = rig.fs.fatbase;
    std::vector<uint32_t> fat_sectors;
    for (uint32_t a : rig.args(CMD17)) {
        if (a < rig.fs.database) {
            fat_sectors.push_back(a);
        }
    }
    EXPECT_EQ(fat_sectors, (std::vector<uint32_t>{f, f, f + 1, f + 1}));
}

// A rule the file layer relies on (MODULE_ASSERT) stops the PC build where it
// is broken, before a sector of the wrong cluster is read.
TEST(FileRulesDeathTest, ACurrentClusterOffTheByteBeforeThePointerStopsTheRead) {
    ScratchDir scratch;
    VolumeSpec shape;
    shape.fat = 12;
    shape.sectors_per_cluster = 4;
    const Volume vol(scratch.file("rules.img"), shape);
    vol.put("/F.BIN", testsupport::pattern(4 * 2048, 8));
    FatRig rig(vol);
    ASSERT_EQ(rig.mount(), FR_OK);
    ASSERT_EQ(pf_open(&rig.fs, "/F.BIN"), FR_OK);
    ASSERT_EQ(pf_lseek(&rig.fs, 512), FR_OK); // the head of the cluster's second sector
    rig.fs.curr_clust += 1;
    Bytes got(16);
    uint32_t br = 0;
    EXPECT_DEATH(pf_read(&rig.fs, got.data(), 16, &br), "broke its rule: .*last_byte_in");
}

} // namespace
