// 8.3 names and path resolution: how a path is cut into segments, and what the
// segments find on a volume made by the real tools.
#include <gtest/gtest.h>

#include <cstring>

#include "fat_rig.h"

namespace {

using fattest::FatRig;
using testsupport::ScratchDir;
using testsupport::Volume;
using testsupport::VolumeSpec;

struct Segment {
    std::string name; // the 11 name bytes
    bool last;
    std::string rest; // the path after the segment, when more follows
};

bool operator==(const Segment& a, const Segment& b) {
    return a.name == b.name && a.last == b.last && a.rest == b.rest;
}

Segment segment_of(const char* path) {
    uint8_t fn[12];
    std::memset(fn, 0xAA, sizeof fn);
    const char* const p = create_name(fn, path);
    Segment s{std::string(reinterpret_cast<char*>(fn), 11), fn[11] == 1, ""};
    EXPECT_TRUE(fn[11] == 0 || fn[11] == 1);
    if (!s.last) {
        s.rest = p;
    }
    return s;
}

TEST(CreateName, FoldsCaseAndPadsNameAndExtension) {
    EXPECT_EQ(segment_of("file.txt").name, "FILE    TXT");
    EXPECT_EQ(segment_of("File.Txt").name, "FILE    TXT");
    EXPECT_EQ(segment_of("README").name, "README     ");
    EXPECT_EQ(segment_of("a~1.c").name, "A~1     C  ");
    EXPECT_EQ(segment_of("\xC4x.y").name, "\xC4X      Y  "); // only ASCII letters are folded
    EXPECT_TRUE(segment_of("file.txt").last);
}

TEST(CreateName, SegmentEndsAtSlashSpaceOrControlCharacter) {
    EXPECT_EQ(segment_of("DIR/X"), (Segment{"DIR        ", false, "X"}));
    const Segment spaced = segment_of("FILE.TXT more");
    EXPECT_EQ(spaced.name, "FILE    TXT");
    EXPECT_TRUE(spaced.last);
    EXPECT_TRUE(segment_of("A\tB").last);
    EXPECT_EQ(segment_of("/FILE").name, "           "); // the empty segment of "//FILE"
}

TEST(CreateName, OverlongPartsAndExtraDotsStartANewSegment) {
    EXPECT_EQ(segment_of("ABCDEFGHI.TXT"), (Segment{"ABCDEFGH   ", false, ".TXT"}));
    EXPECT_EQ(segment_of(".TXT"), (Segment{"        TXT", true, ""}));
    EXPECT_EQ(segment_of("A.B.X"), (Segment{"A       B  ", false, "X"}));
    EXPECT_EQ(segment_of("NAME.TEXT"), (Segment{"NAME    TEX", false, ""}));
    EXPECT_EQ(segment_of(".."), (Segment{"           ", false, ""}));
    EXPECT_EQ(segment_of(".").name, "           ");
}

// One small volume holding the names the path cases need.
class Paths : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        scratch_ = new ScratchDir;
        VolumeSpec shape;
        shape.fat = 16;
        shape.size_kib = 4096;
        shape.label = "GHOST   TXT"; // a label whose bytes equal a file name
        volume_ = new Volume(scratch_->file("names.img"), shape);
        volume_->put("/FILE.TXT", testsupport::pattern(20, 1));
        volume_->put("/GONE.TXT", testsupport::pattern(70, 6));
        volume_->put("/README", testsupport::pattern(30, 2));
        volume_->mkdir("/DIR");
        volume_->put("/DIR/X.TXT", testsupport::pattern(40, 3));
        volume_->mkdir("/A.B");
        volume_->put("/A.B/X", testsupport::pattern(50, 4));
        volume_->mkdir("/NAME.TEX");
        volume_->put("/NAME.TEX/INNER", testsupport::pattern(60, 5));
        volume_->remove("/GONE.TXT"); // last, so that no new entry takes the slot it leaves
    }
    static void TearDownTestSuite() {
        delete volume_;
        delete scratch_;
    }
    void SetUp() override { ASSERT_EQ(rig_.mount(), FR_OK); }

    // Size of the file `path` opens, or the failure.
    std::string open(const char* path) {
        const FRESULT r = pf_open(&rig_.fs, path);
        return r == FR_OK ? std::to_string(rig_.fs.fsize) : "error " + std::to_string(r);
    }

    static ScratchDir* scratch_;
    static Volume* volume_;
    FatRig rig_{*volume_};
};

ScratchDir* Paths::scratch_ = nullptr;
Volume* Paths::volume_ = nullptr;

TEST_F(Paths, CaseAndLeadingSlashOrSpacesDoNotMatter) {
    for (const char* p : {"file.txt", "FILE.TXT", "/File.Txt", "  /FILE.TXT", "FILE.TXT and more"}) {
        EXPECT_EQ(open(p), "20") << p;
    }
    EXPECT_EQ(open("README"), "30");
    EXPECT_EQ(open("/dir/x.txt"), "40");
    EXPECT_EQ(open("A.B.X"), "50"); // the second dot starts a segment inside A.B
}

TEST_F(Paths, EmptySegmentsAndUnknownNamesFindNothing) {
    const std::string no_file = "error " + std::to_string(FR_NO_FILE);
    for (const char* p : {"//FILE.TXT", "DIR/", "DIR", "..", "/DIR/../FILE.TXT", "ABCDEFGHI.TXT", "NAME.TEXT",
                          "FILE.TXT/X", "GHOST.TXT", "", "/", "   ", "MISSING", "\xE5ONE.TXT"}) {
        EXPECT_EQ(open(p), no_file) << '"' << p << '"';
        EXPECT_EQ(rig_.fs.flag, 0) << p;
    }
}

TEST_F(Paths, EmptyPathsResolveToTheRoot) {
    for (const char* p : {"", "   ", "/", "  /"}) {
        const uint8_t* const dir = scratch_of(&rig_.fs)->found.entry;
        scratch_of(&rig_.fs)->found.entry[0] = 0x55;
        DIR dj{};
        EXPECT_EQ(follow_path(&rig_.fs, &dj, p), FR_OK) << p;
        EXPECT_EQ(dir[0], 0) << p;
        EXPECT_EQ(dj.sclust, 0u);
        EXPECT_EQ(dj.sect, rig_.fs.dirbase);
        EXPECT_EQ(fattest::list_dir(rig_.fs, p), volume_->short_names("/")) << p;
    }
}

TEST_F(Paths, FoundEntryLeavesTheWalkAtItInItsParent) {
    const uint8_t* const dir = scratch_of(&rig_.fs)->found.entry;
    DIR dj{};
    ASSERT_EQ(follow_path(&rig_.fs, &dj, "/DIR/X.TXT"), FR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dir), 11), "X       TXT");
    EXPECT_NE(dj.sclust, 0u); // the parent is DIR
    EXPECT_EQ(dj.index, 2);   // after "." and ".."
    EXPECT_EQ(dj.sect, clust2sect(&rig_.fs, dj.sclust));
}

} // namespace
