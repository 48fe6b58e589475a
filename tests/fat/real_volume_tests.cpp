// The file system on volumes made by mkfs.fat and filled by mtools: every file
// read back, every listing compared with mtools' short names, random seeks, and
// in-place writes checked against the whole image and fsck.fat.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "fat_rig.h"
#include "write_guard.h"

namespace {

using fattest::FatRig;
using testsupport::ScratchDir;
using testsupport::Volume;
using testsupport::VolumeSpec;
using Bytes = std::vector<uint8_t>;

struct Layout {
    std::string name;
    VolumeSpec shape;
};

std::ostream& operator<<(std::ostream& os, const Layout& l) { return os << l.name; }

// Files the module is asked to read, by the path it uses (short names).
struct Population {
    std::map<std::string, Bytes> files;
    std::vector<std::string> dirs;
    uint32_t cluster_bytes = 0;
};

// Builds the same tree on every volume, scaled by its cluster size.
Population populate(const Volume& vol) {
    Population pop;
    const uint32_t bcs = static_cast<uint32_t>(vol.shape().sectors_per_cluster) * 512;
    pop.cluster_bytes = bcs;
    uint32_t seed = 1;
    auto put = [&](const std::string& mtools_path, const std::string& module_path, size_t size) {
        Bytes data = testsupport::pattern(size, seed++);
        vol.put(mtools_path, data);
        pop.files[module_path] = data;
    };

    put("/EMPTY.TXT", "/EMPTY.TXT", 0);
    put("/ONE.BIN", "/ONE.BIN", 1);
    put("/S511.BIN", "/S511.BIN", 511);
    put("/S512.BIN", "/S512.BIN", 512);
    put("/S513.BIN", "/S513.BIN", 513);
    put("/Long File Name.text", "/LONGFI~1.TEX", 700);
    put("/lower.c", "/lower.c", 50);
    put("/BIG.BIN", "/BIG.BIN", 6 * bcs + 77);

    for (const char* d : {"/D1", "/D1/D2", "/D1/D2/D3", "/FRAG"}) {
        vol.mkdir(d);
        pop.dirs.push_back(d);
    }
    put("/D1/D1FILE.TXT", "/D1/D1FILE.TXT", 100);
    put("/D1/D2/D2FILE.TXT", "/D1/D2/D2FILE.TXT", 1000);

    // Enough entries for the deepest directory to span three clusters; most
    // files are empty so that they take no cluster.
    const uint32_t per_cluster = bcs / 32;
    std::vector<std::pair<std::string, Bytes>> bulk;
    for (uint32_t i = 0; i < 2 * per_cluster + 3; i++) {
        char name[16];
        std::snprintf(name, sizeof name, "F%04u.DAT", i);
        bulk.emplace_back(name, Bytes{});
    }
    vol.put_many("/D1/D2/D3", bulk);
    pop.files["/D1/D2/D3/F0000.DAT"] = {};
    pop.files["/D1/D2/D3/" + bulk.back().first] = {};
    put("/D1/D2/D3/Deep long name.bin", "/D1/D2/D3/DEEPLO~1.BIN", 3 * bcs + 1);
    put("/D1/D2/D3/LAST.TXT", "/D1/D2/D3/LAST.TXT", 513);

    // Interleaved chains: E fills the holes that B and D leave, then carries on
    // behind C; D's entry stays behind as a deleted one.
    put("/FRAG/A.BIN", "/FRAG/A.BIN", 2 * bcs);
    vol.put("/FRAG/B.BIN", testsupport::pattern(bcs, 99));
    put("/FRAG/C.BIN", "/FRAG/C.BIN", 2 * bcs - 3);
    vol.put("/FRAG/D.BIN", testsupport::pattern(bcs, 98));
    vol.put("/GONE.TXT", testsupport::pattern(10, 97));
    vol.remove("/GONE.TXT");
    // Whether the tool allocates first-fit or from a next-free hint, with only
    // three clusters free at the end E must use the holes too.
    vol.put("/FILLER.BIN", Bytes(vol.free_bytes() - 3 * bcs, 0));
    vol.remove("/FRAG/B.BIN");
    vol.remove("/FRAG/D.BIN");
    put("/FRAG/E.BIN", "/FRAG/E.BIN", 4 * bcs + 10);
    return pop;
}

class RealVolume : public ::testing::TestWithParam<Layout> {};

// Whether the chain of `path` leaves the next cluster at least once, seen
// through the sectors the module reads.
bool chain_jumps(FatRig& rig, const std::string& path) {
    if (pf_open(&rig.fs, path.c_str()) != FR_OK) {
        return false;
    }
    uint32_t prev = 0;
    bool jumped = false;
    Bytes sector(512);
    uint32_t br = 0;
    while (pf_read(&rig.fs, sector.data(), 512, &br) == FR_OK && br > 0) {
        jumped |= prev != 0 && rig.fs.dsect != prev + 1;
        prev = rig.fs.dsect;
    }
    return jumped;
}

void check_reads(FatRig& rig, const Population& pop) {
    for (const auto& [path, data] : pop.files) {
        SCOPED_TRACE(path);
        // Every lookup in the deepest directory walks up to thousands of entries: one pass there.
        const bool deep = path.rfind("/D1/D2/D3/", 0) == 0;
        for (uint32_t chunk : {1000u, 512u, 37u}) {
            if (chunk != 1000 && (deep || (chunk == 37 && data.size() > 4096))) {
                continue; // small pieces re-read whole sectors; keep the big files to two passes
            }
            FRESULT res;
            EXPECT_EQ(fattest::read_file(rig.fs, path, chunk, &res), data) << "chunk " << chunk;
            EXPECT_EQ(res, FR_OK);
            EXPECT_EQ(rig.fs.fptr, data.size());
        }
        rig.clear_logs();
    }
}

void check_listings(FatRig& rig, const Volume& vol, const Population& pop) {
    std::vector<std::string> dirs{"/"};
    dirs.insert(dirs.end(), pop.dirs.begin(), pop.dirs.end());
    for (const auto& d : dirs) {
        SCOPED_TRACE(d);
        FRESULT res;
        EXPECT_EQ(fattest::list_dir(rig.fs, d, &res), vol.short_names(d));
        EXPECT_EQ(res, FR_OK);
        if (d == "/D1/D2/D3") {
            EXPECT_GE(rig.fat_reads(), 2u) << "the deepest directory should span three clusters";
        }
        rig.clear_logs();
    }
}

void check_seeks(FatRig& rig, const Population& pop, std::mt19937& rng) {
    for (const std::string path : {"/BIG.BIN", "/FRAG/E.BIN", "/D1/D2/D3/DEEPLO~1.BIN"}) {
        SCOPED_TRACE(path);
        const Bytes& data = pop.files.at(path);
        ASSERT_EQ(pf_open(&rig.fs, path.c_str()), FR_OK);
        for (int i = 0; i < 40; i++) {
            // Cluster boundaries and their neighbours are where seeks go wrong.
            uint32_t ofs = static_cast<uint32_t>(rng() % (data.size() + 100));
            if (i % 4 == 0) {
                ofs = static_cast<uint32_t>(rng() % 7) * pop.cluster_bytes + (rng() % 3) - 1;
            }
            ASSERT_EQ(pf_lseek(&rig.fs, ofs), FR_OK) << ofs;
            const uint32_t at = std::min<uint32_t>(ofs, static_cast<uint32_t>(data.size()));
            ASSERT_EQ(rig.fs.fptr, at);
            Bytes got(600);
            uint32_t br = 0;
            ASSERT_EQ(pf_read(&rig.fs, got.data(), 600, &br), FR_OK);
            got.resize(br);
            const size_t want = std::min<size_t>(600, data.size() - at);
            EXPECT_EQ(got, Bytes(data.begin() + at, data.begin() + at + static_cast<long>(want))) << ofs;
        }
        rig.clear_logs();
    }
}

// Writes through the module; returns what each file should now hold.
std::map<std::string, Bytes> write_in_place(FatRig& rig, const Population& pop) {
    std::map<std::string, Bytes> expect;
    const uint32_t bcs = pop.cluster_bytes;
    uint32_t bw = 0;

    // BIG: three whole sectors across the end of the first cluster, then 100 +
    // 412 bytes that make one sector, then a 700-byte write and a finish.
    Bytes big = pop.files.at("/BIG.BIN");
    testsupport::allow_writes_to(rig.card.card, rig.card.image, "/BIG.BIN");
    EXPECT_EQ(pf_open(&rig.fs, "/BIG.BIN"), FR_OK);
    const Bytes a = testsupport::pattern(1536, 501);
    EXPECT_EQ(pf_lseek(&rig.fs, bcs - 512), FR_OK);
    EXPECT_EQ(pf_write(&rig.fs, a.data(), 1536, &bw), FR_OK);
    EXPECT_EQ(bw, 1536u);
    std::copy(a.begin(), a.end(), big.begin() + (bcs - 512));

    const uint32_t at = static_cast<uint32_t>(big.size() / 2) & ~511u;
    const Bytes b = testsupport::pattern(512, 502);
    EXPECT_EQ(pf_lseek(&rig.fs, at + 5), FR_OK); // a write starts at its sector's head
    EXPECT_EQ(pf_write(&rig.fs, b.data(), 100, &bw), FR_OK);
    EXPECT_EQ(rig.fs.flag, FLAG_OPEN | FLAG_WRITING);
    EXPECT_EQ(pf_write(&rig.fs, b.data() + 100, 412, &bw), FR_OK);
    EXPECT_EQ(rig.fs.flag, FLAG_OPEN);
    std::copy(b.begin(), b.end(), big.begin() + at);

    const Bytes c = testsupport::pattern(700, 503);
    EXPECT_EQ(pf_lseek(&rig.fs, 0), FR_OK);
    EXPECT_EQ(pf_write(&rig.fs, c.data(), 700, &bw), FR_OK);
    EXPECT_EQ(pf_write(&rig.fs, nullptr, 0, &bw), FR_OK);
    std::copy(c.begin(), c.end(), big.begin());
    std::fill(big.begin() + 700, big.begin() + 1024, 0); // the finished sector's filler
    expect["/BIG.BIN"] = big;

    // E: the whole fragmented file rewritten in 1000-byte pieces.
    const Bytes e = testsupport::pattern(pop.files.at("/FRAG/E.BIN").size(), 504);
    testsupport::allow_writes_to(rig.card.card, rig.card.image, "/FRAG/E.BIN");
    EXPECT_EQ(pf_open(&rig.fs, "/FRAG/E.BIN"), FR_OK);
    for (size_t done = 0; done < e.size(); done += bw) {
        EXPECT_EQ(pf_write(&rig.fs, e.data() + done, 1000, &bw), FR_OK);
        if (bw == 0) {
            break;
        }
    }
    EXPECT_EQ(pf_write(&rig.fs, nullptr, 0, &bw), FR_OK);
    EXPECT_EQ(rig.fs.fptr, e.size());
    expect["/FRAG/E.BIN"] = e;
    return expect;
}

std::string mtools_path(const std::string& module_path) {
    return module_path == "/D1/D2/D3/DEEPLO~1.BIN" ? "/D1/D2/D3/Deep long name.bin" : module_path;
}

TEST_P(RealVolume, ReadsListsSeeksAndWritesInPlace) {
    ScratchDir scratch;
    const Volume vol(scratch.file("card.img"), GetParam().shape);
    const Population pop = populate(vol);
    ASSERT_EQ(vol.fsck_problems(), "");

    FatRig rig(vol);
    rig.card.card.allow_writes({}); // reading, listing and seeking write nothing
    testsupport::fail_on_refused_writes(rig.card.card);
    ASSERT_EQ(rig.mount(), FR_OK);
    EXPECT_EQ(rig.fs.fs_type, GetParam().shape.fat == 12 ? 1 : GetParam().shape.fat == 16 ? 2 : 3);
    EXPECT_EQ(rig.fs.csize, GetParam().shape.sectors_per_cluster);
    rig.clear_logs();

    check_reads(rig, pop);
    check_listings(rig, vol, pop);
    EXPECT_TRUE(chain_jumps(rig, "/FRAG/E.BIN")) << "the fragmented file should not be contiguous";
    std::mt19937 rng(GetParam().shape.size_kib);
    check_seeks(rig, pop, rng);
    rig.clear_logs();

    const Bytes before = vol.bytes();
    const std::map<std::string, Bytes> expect = write_in_place(rig, pop);
    EXPECT_TRUE(rig.card.card.violations().empty());
    const Bytes after = vol.bytes();

    // Every intended byte landed (mtools reads them back) and no other byte of
    // the image changed (the image differs exactly where the files do).
    size_t intended = 0;
    for (const auto& [path, data] : expect) {
        EXPECT_EQ(vol.get(path), data) << path;
        intended += fattest::differing(pop.files.at(path), data);
    }
    EXPECT_EQ(fattest::differing(before, after), intended);
    EXPECT_EQ(vol.fsck_problems(), "");
    for (const auto& [path, data] : pop.files) {
        if (!expect.count(path)) {
            EXPECT_EQ(vol.get(mtools_path(path)), data) << path;
        }
    }
}

VolumeSpec shape(int fat, int spc, uint32_t kib, uint32_t part = 0, std::string label = "") {
    VolumeSpec s;
    s.fat = fat;
    s.sectors_per_cluster = spc;
    s.size_kib = kib;
    s.partition_start = part;
    s.label = std::move(label);
    return s;
}

INSTANTIATE_TEST_SUITE_P(Volumes, RealVolume,
                         ::testing::Values(Layout{"Fat12_1spc", shape(12, 1, 1024, 0, "SMALL CARD")},
                                           Layout{"Fat12_64spc", shape(12, 64, 2048)},
                                           Layout{"Fat12_2spc_partition", shape(12, 2, 1536, 63, "PART")},
                                           Layout{"Fat16_1spc", shape(16, 1, 4096, 0, "SIXTEEN")},
                                           Layout{"Fat16_4spc_partition", shape(16, 4, 10240, 2048)},
                                           Layout{"Fat16_8spc", shape(16, 8, 20480)},
                                           Layout{"Fat32_1spc", shape(32, 1, 34816, 0, "THIRTYTWO")},
                                           Layout{"Fat32_1spc_partition", shape(32, 1, 36864, 2048)}),
                         [](const auto& info) { return info.param.name; });

} // namespace
