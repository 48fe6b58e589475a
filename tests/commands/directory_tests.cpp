// MODE_OPENDIR and MODE_READDIR on directories made by the FAT tools.
#include <gtest/gtest.h>

#include "e2e_bench.h"
#include "sdtypes.h"

namespace {

using e2e::Bench;
using e2e::bytes;

// The next entry as the module returns it; empty once the directory has ended
// (the module then leaves the string as it was passed, here empty).
std::string next_entry(Bench& b) {
    const sim::Returned r = b.call(MODE_READDIR, {0});
    return std::string(r.p1.begin() + 1, r.p1.begin() + 1 + r.p1[0]);
}

std::vector<std::string> listing(Bench& b, const std::string& dir) {
    b.call(MODE_OPENDIR, sim::counted(dir));
    std::vector<std::string> names;
    for (std::string e = next_entry(b); !e.empty() && names.size() < 100; e = next_entry(b)) {
        names.push_back(e);
    }
    return names;
}

void set_attributes(Bench& b, const std::string& flags, const std::string& path) {
    testsupport::run("mattrib -i " + testsupport::quote(b.volume().image().string()) + " " + flags +
                     " ::" + path);
}

TEST(Directory, RootByEmptyNameOrSlashWithTheDirMarker) {
    Bench b;
    b.volume().mkdir("/DATA");
    b.volume().put("/README.TXT", bytes("read me"));
    b.volume().put("/DATA/INNER.TXT", bytes("inner"));
    b.insert_card();
    const std::vector<std::string> root = {"<Dir>DATA", "README.TXT"};
    EXPECT_EQ(listing(b, ""), root);
    EXPECT_EQ(listing(b, "/"), root);
    EXPECT_EQ(listing(b, "DATA"), std::vector<std::string>{"INNER.TXT"}); // no dot entries
    EXPECT_EQ(b.console(), "");
}

TEST(Directory, TwelveBytesOfTheNameTravelWithTheTerminator) {
    Bench b;
    b.volume().mkdir("/DATA");
    b.insert_card();
    b.call(MODE_OPENDIR, sim::counted("/"));
    const sim::Returned r = b.call(MODE_READDIR, std::vector<uint8_t>(32, 0xEE));
    EXPECT_EQ(r.p1[0], 9);
    EXPECT_EQ(std::string(r.p1.begin() + 1, r.p1.begin() + 10), "<Dir>DATA");
    EXPECT_EQ(r.p1[10], 0);    // the name's terminator is copied too
    EXPECT_NE(r.p1[17], 0xEE); // ...and the bytes after it, up to 12 in all
    EXPECT_EQ(r.p1[18], 0xEE); // nothing past them
}

TEST(Directory, AnEndedListingLeavesTheCallersStringAlone) {
    Bench b;
    b.volume().put("/ONLY.TXT", bytes("x"));
    b.insert_card();
    EXPECT_EQ(listing(b, "/"), std::vector<std::string>{"ONLY.TXT"});
    const std::vector<uint8_t> passed = {4, 'k', 'e', 'e', 'p'};
    for (int i = 0; i < 3; ++i) {
        const sim::Returned r = b.call(MODE_READDIR, passed);
        EXPECT_EQ(std::vector<uint8_t>(r.p1.begin(), r.p1.begin() + 5), passed);
    }
}

TEST(Directory, OnlyOneEntryWithAttributes0x16IsSkippedPerCall) {
    Bench b;
    for (const char* dir : {"/S1", "/S2", "/S3", "/H", "/Y"})
        b.volume().mkdir(dir);
    b.volume().put("/F.TXT", bytes("f"));
    b.volume().mkdir("/S4");
    set_attributes(b, "+s +h", "/S1");
    set_attributes(b, "+s +h", "/S2");
    set_attributes(b, "+s +h", "/S3");
    set_attributes(b, "+h", "/H");
    set_attributes(b, "+s", "/Y");
    set_attributes(b, "+s +h", "/S4");
    b.insert_card();
    // Entries in order: S1 S2 S3 H Y F.TXT S4.
    EXPECT_EQ(listing(b, "/"), (std::vector<std::string>{"<Dir>S2", "<Dir>H", "<Dir>Y", "F.TXT"}));
}

TEST(Directory, ANameTooLongOpensNoListing) {
    Bench b;
    b.volume().put("/A.TXT", bytes("a"));
    b.volume().put("/B.TXT", bytes("b"));
    b.insert_card();
    b.call(MODE_OPENDIR, sim::counted("/"));
    EXPECT_EQ(next_entry(b), "A.TXT");
    b.call(MODE_OPENDIR, sim::counted("/A234567890123456"));
    EXPECT_EQ(b.console(), "No File\r\n");
    EXPECT_EQ(next_entry(b), ""); // neither the root afresh nor the rest of the old listing
    EXPECT_EQ(next_entry(b), "");
}

TEST(Directory, AFailedOpenListsNothingOfTheDirectoryWhereTheSearchStopped) {
    Bench b;
    b.volume().mkdir("/DATA");
    b.volume().put("/DATA/IN.TXT", bytes("i"));
    b.volume().put("/ROOT.TXT", bytes("r"));
    b.volume().put("/LAST.TXT", bytes("l"));
    b.insert_card();
    for (const char* path : {"ROOT.TXT", "NOPE", "DATA/NOPE", "DATA/IN.TXT/X"}) {
        b.call(MODE_OPENDIR, sim::counted("DATA"));
        EXPECT_EQ(next_entry(b), "IN.TXT");
        b.call(MODE_OPENDIR, sim::counted(path));
        EXPECT_EQ(b.console(), "No File\r\n") << path;
        EXPECT_EQ(next_entry(b), "") << path;
        EXPECT_EQ(b.console(), "") << path;
    }
}

TEST(Directory, WithoutAMountedVolumeTheListingEnds) {
    Bench b;
    b.volume().put("/A.TXT", bytes("a"));
    b.volume().put("/B.TXT", bytes("b"));
    b.insert_card();
    b.call(MODE_OPENDIR, sim::counted("/"));
    EXPECT_EQ(next_entry(b), "A.TXT");
    b.board().set_chip_select_option(testsupport::CARD_CS_PIN + 1); // the card no longer answers
    b.call(MODE_OPENDIR, sim::counted("/"));
    EXPECT_EQ(b.console(), "Not Ready\r\nNot Enabled\r\n");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(next_entry(b), ""); // not A.TXT once more, and again
        EXPECT_EQ(b.console(), "Not Enabled\r\n");
    }
}

} // namespace
