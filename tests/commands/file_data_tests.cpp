// MODE_READ and MODE_WRITE on files made by the FAT tools: the string and raw
// forms, the running positions, and writes at any position turned into
// whole-sector writes.
#include <gtest/gtest.h>

#include "e2e_bench.h"
#include "little_endian.h"
#include "sdtypes.h"
#include "volume_map.h"

namespace {

using e2e::Bench;
using e2e::bytes;
using testsupport::pattern;

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& v, size_t from, size_t to) {
    return {v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(to)};
}

// A card holding LONG.BIN (4 KiB of pattern) and a neighbour file, LONG.BIN open.
struct WriteBench {
    WriteBench(size_t size = 4096) : original(pattern(size, 7)), neighbour(pattern(1500, 8)) {
        b.volume().put("/LONG.BIN", original);
        b.volume().put("/NEXT.BIN", neighbour);
        b.insert_card();
        b.open("LONG.BIN");
    }
    std::vector<uint8_t> file() { return b.volume().get("/LONG.BIN"); }
    void expect_neighbour_intact() { EXPECT_EQ(b.volume().get("/NEXT.BIN"), neighbour); }

    Bench b;
    std::vector<uint8_t> original, neighbour;
};

TEST(Read, StringFormUpTo255RawFormFrom256) {
    Bench b;
    const std::vector<uint8_t> content = pattern(300, 1);
    b.volume().put("/F.BIN", content);
    b.insert_card();
    b.open("F.BIN");

    sim::Returned r = b.call(MODE_READ, std::vector<uint8_t>(600, 0xEE), 0, 255);
    EXPECT_EQ(r.p4, 255);
    EXPECT_EQ(r.p1[0], 255);
    EXPECT_EQ(slice(r.p1, 1, 256), slice(content, 0, 255));
    EXPECT_EQ(r.p1[256], 0xEE);

    r = b.call(MODE_READ, std::vector<uint8_t>(600, 0xEE), 0, 256);
    EXPECT_EQ(r.p4, 256);
    EXPECT_EQ(slice(r.p1, 0, 256), slice(content, 0, 256));
    EXPECT_EQ(r.p1[256], 0xEE);
    EXPECT_EQ(b.console(), "");
}

TEST(Read, RunningPositionEndOfFileAndShortReads) {
    Bench b;
    const std::vector<uint8_t> content = pattern(1300, 2);
    b.volume().put("/F.BIN", content);
    b.insert_card();
    b.open("F.BIN");
    int32_t got = 0;

    EXPECT_EQ(b.read(100, 50), slice(content, 100, 150));
    EXPECT_EQ(b.read(-1, 600), slice(content, 150, 750)); // across a sector boundary
    EXPECT_EQ(b.read(-1, 3), slice(content, 750, 753));
    EXPECT_EQ(b.read(1250, 100, &got), slice(content, 1250, 1300));
    EXPECT_EQ(got, 50);

    sim::Returned r = b.call(MODE_READ, {9, 'u', 'n', 't', 'o', 'u', 'c', 'h', 'e', 'd'}, -1, 10);
    EXPECT_EQ(r.p4, 0);
    EXPECT_EQ(r.p1[0], 0);
    r = b.call(MODE_READ, {9}, 5000, 10); // a seek past the end stops at the end
    EXPECT_EQ(r.p4, 0);
    EXPECT_EQ(b.read(0, 4), slice(content, 0, 4));
    EXPECT_EQ(b.console(), "");
}

TEST(Read, NegativeCountReadsNothing) {
    Bench b;
    b.volume().put("/F.BIN", pattern(600, 3));
    b.insert_card();
    b.open("F.BIN");
    for (int32_t count : {-1, -256, INT32_MIN}) {
        std::vector<uint8_t> p1(sim::RAM_P1_SIZE, 0xEE);
        p1[0] = 5;
        const sim::Returned r = b.call(MODE_READ, p1, 0, count, 77);
        EXPECT_EQ(r.p4, 0) << count;
        EXPECT_EQ(r.p1[0], 0) << count;
        EXPECT_EQ(slice(r.p1, 1, r.p1.size()), slice(p1, 1, p1.size())) << count;
        EXPECT_TRUE(b.card().commands().empty()) << count;
    }
}

TEST(Write, RunningPositionsGoTo0_20_40AndTheCallerSeesThem) {
    WriteBench w;
    const std::vector<uint8_t> data = pattern(60, 9);
    EXPECT_EQ(w.b.write(-1, slice(data, 0, 20)), 0);
    EXPECT_EQ(w.b.write(-1, slice(data, 20, 40)), 20);
    EXPECT_EQ(w.b.write(-1, slice(data, 40, 60)), 40);
    EXPECT_EQ(w.b.append_pos(), 60);
    EXPECT_EQ(w.b.console(), "");

    std::vector<uint8_t> expected = w.original;
    std::copy(data.begin(), data.end(), expected.begin());
    EXPECT_EQ(w.file(), expected);
    w.expect_neighbour_intact();
}

TEST(Write, AnExplicitPositionStillAddsOnlyTheCount) {
    WriteBench w;
    EXPECT_EQ(w.b.write(100, pattern(20, 1)), 100);
    EXPECT_EQ(w.b.append_pos(), 20);
    EXPECT_EQ(w.b.write(-1, bytes("next")), 20);
}

// A write changes exactly the bytes it names, wherever it starts and ends:
// aligned or not, ending inside a sector or on its boundary, in one sector or
// spanning whole ones.
TEST(Write, ChangesExactlyTheBytesItNames) {
    for (auto [pos, count] : {std::pair{0u, 10u},
                              {5u, 10u},
                              {100u, 600u},
                              {512u, 512u},
                              {0u, 1100u},
                              {511u, 2u},
                              {1000u, 2048u},
                              {3584u, 512u}}) {
        WriteBench w;
        const std::vector<uint8_t> data = pattern(count, 6);
        EXPECT_EQ(w.b.write(static_cast<int32_t>(pos), data), static_cast<int32_t>(pos));
        std::vector<uint8_t> expected = w.original;
        std::copy(data.begin(), data.end(), expected.begin() + pos);
        EXPECT_EQ(w.file(), expected) << pos << " " << count;
        EXPECT_EQ(w.b.console(), "");
        w.expect_neighbour_intact();
    }
}

// One sector per cluster: a fresh open reaches sector S of a file in a
// straight line by reading the FAT sector that holds the line once. The
// sector read and the seek back inside it read nothing more; a write that
// spills into the next cluster reads that sector too, before writing it.
TEST(Write, AnUnalignedWriteFarIntoAStraightFileReadsTheFatOnce) {
    for (const uint32_t pos : {60005u, 60413u}) {
        WriteBench w(64 * 1024);
        const std::vector<uint8_t> data = pattern(10, 15);
        w.b.write(static_cast<int32_t>(pos), data);
        const bool spills = pos % 512 + data.size() > 512;
        size_t reads = 0, writes = 0;
        for (const sim::CardCommand& c : w.b.card().commands()) {
            reads += c.index == 17;
            writes += c.index == 24;
        }
        EXPECT_EQ(reads, 1 + 1 + (spills ? 1 : 0)) << pos;
        EXPECT_EQ(writes, spills ? 2u : 1u) << pos;

        std::vector<uint8_t> expected = w.original;
        std::copy(data.begin(), data.end(), expected.begin() + pos);
        EXPECT_EQ(w.file(), expected) << pos;
        EXPECT_EQ(w.b.console(), "") << pos;
    }
}

TEST(Write, StringAndRawFormsAtTheBoundary) {
    WriteBench w;
    const std::vector<uint8_t> d255 = pattern(255, 10), d256 = pattern(256, 11);
    w.b.write(1024, d255);
    w.b.write(2048, d256);
    const std::vector<uint8_t> file = w.file();
    EXPECT_EQ(slice(file, 1024, 1279), d255);
    EXPECT_EQ(file[1279], w.original[1279]);
    EXPECT_EQ(slice(file, 2048, 2304), d256);
    EXPECT_EQ(file[2304], w.original[2304]);
}

TEST(Write, AtOrPastTheEndWritesNothingAndInsideIsCutAtTheEnd) {
    for (uint32_t pos : {1000u, 1001u, 1100u, 1200u, 5000u}) {
        WriteBench w(1000);
        w.b.write(static_cast<int32_t>(pos), pattern(300, 12));
        EXPECT_EQ(w.file(), w.original) << pos;
        EXPECT_EQ(w.b.append_pos(), 300) << pos;
        w.expect_neighbour_intact();
    }
    {
        WriteBench w(1024);
        w.b.write(1024, pattern(10, 13));
        EXPECT_EQ(w.file(), w.original);
    }
    WriteBench w(1000);
    const std::vector<uint8_t> data = pattern(30, 14);
    w.b.write(990, data);
    std::vector<uint8_t> expected = w.original;
    std::copy(data.begin(), data.begin() + 10, expected.begin() + 990);
    EXPECT_EQ(w.file(), expected);
    w.expect_neighbour_intact();
}

TEST(Write, NegativeCountChangesNeitherTheCardNorTheAppendPosition) {
    WriteBench w;
    w.b.write(-1, bytes("abc"));
    const std::vector<uint8_t> before = w.file();
    for (int32_t count : {-1, -512, INT32_MIN}) {
        const sim::Returned r = w.b.call(MODE_WRITE, std::vector<uint8_t>(600, 'Z'), 40, count);
        EXPECT_EQ(r.p2, 40);
        EXPECT_TRUE(w.b.card().commands().empty()) << count;
    }
    EXPECT_EQ(w.b.append_pos(), 3);
    EXPECT_EQ(w.file(), before);
}

TEST(Write, WithoutAnOpenFileEveryStepSaysNotOpened) {
    Bench b;
    b.volume().put("/F.BIN", pattern(600, 3));
    b.insert_card();
    b.open("NOPE.BIN");
    // The seek and the finish; with no file there is nothing to read or write between them.
    b.write(0, bytes("aligned"));
    EXPECT_EQ(b.console(), "Not Opened\r\nNot Opened\r\n");
    b.write(5, bytes("unaligned"));
    EXPECT_EQ(b.console(), repeated("Not Opened\r\n", 2));
    EXPECT_EQ(b.volume().get("/F.BIN"), pattern(600, 3));
}

// A partitioned FAT32 card whose total-sectors field is corrupt (huge) and a
// file whose first cluster is high in the range that total allows: its data
// sector would lie past 2^32 and wrap onto the card's first sectors. The
// mount refuses the volume, and nothing is written anywhere.
TEST(Write, AVolumePastSector2To32IsNoFileSystemAndNothingIsWritten) {
    testsupport::VolumeSpec shape;
    shape.fat = 32;
    shape.size_kib = 40 * 1024;
    shape.partition_start = 8192;
    Bench b(shape);
    b.volume().put("/EVIL.TXT", pattern(512, 1));
    std::vector<uint8_t> image = b.volume().bytes();
    const sim::DiskImage disk = sim::DiskImage::from_bytes(image);
    const testsupport::VolumeGeometry geo = testsupport::read_geometry(disk).value();
    const size_t boot = size_t{geo.boot} * 512;
    testsupport::put16(image, boot + 19, 0);
    testsupport::put32(image, boot + 32, 0xFFFFFFF0);
    const size_t root = (size_t{geo.data_start} + (geo.root_cluster - 2) * geo.cluster_sectors) * 512;
    const std::string name = "EVIL    TXT";
    const auto entry =
        std::search(image.begin() + static_cast<std::ptrdiff_t>(root), image.end(), name.begin(), name.end());
    ASSERT_NE(entry, image.end());
    const auto cluster = static_cast<uint32_t>(0x100000000ull + 3 - geo.data_start); // sector 1 once wrapped
    testsupport::put16(image, static_cast<size_t>(entry - image.begin()) + 20, cluster >> 16);
    testsupport::put16(image, static_cast<size_t>(entry - image.begin()) + 26, cluster & 0xFFFF);
    b.volume().set_bytes(image);
    b.insert_card();

    b.open("EVIL.TXT");
    EXPECT_EQ(b.console(), "No File System\r\nNot Enabled\r\n");
    b.write(0, bytes("HELLOWORLD"));
    EXPECT_EQ(b.console(), "Not Opened\r\nNot Opened\r\n");
    EXPECT_EQ(b.volume().bytes(), image);
}

} // namespace
