// What sdsim reads of a volume beside the module: sizes and long names in
// `ls -l`, and the 8.3 name to use when the module answers "No File" to a
// long one, on volumes whose long-name entries mtools wrote.
#include <gtest/gtest.h>

#include <sstream>

#include "little_endian.h"
#include "run_sdsim.h"
#include "volume.h"

namespace {

using sdsimtest::Outcome;
using sdsimtest::sdsim;
using testsupport::ScratchDir;
using testsupport::Volume;

struct File {
    std::string name;
    size_t size;
    bool long_name; // the name needs long-name entries
};

const std::vector<File>& files() {
    static const std::vector<File> list = {
        {"data.json", 8, true},
        {"SHORT.TXT", 5, false},
        {"A much longer name, with spaces and more than 26 characters.txt", 700, true},
        {"Euro € sign.txt", 3, true},
        {"data.jsonl", 0, true},
    };
    return list;
}

struct Line {
    std::string size, entry, long_name;
};

// "SIZE  ENTRY  [LONG NAME]" as ls -l prints it.
std::vector<Line> parse(const std::string& out) {
    std::vector<Line> lines;
    std::istringstream in(out);
    for (std::string text; std::getline(in, text);) {
        std::istringstream words(text);
        Line line;
        words >> line.size >> line.entry;
        std::getline(words >> std::ws, line.long_name);
        lines.push_back(line);
    }
    return lines;
}

TEST(SdsimLongNames, LsLongGivesSizesAndLongNamesOnEveryFatType) {
    for (const int fat : {12, 16, 32}) {
        SCOPED_TRACE("FAT" + std::to_string(fat));
        ScratchDir dir;
        testsupport::VolumeSpec shape;
        shape.fat = fat;
        shape.size_kib = fat == 32 ? 40 * 1024 : fat == 16 ? 4096 : 1024;
        Volume volume(dir.file("card.img"), shape);
        volume.mkdir("/My Documents");
        std::vector<std::pair<std::string, std::vector<uint8_t>>> contents;
        for (const File& f : files()) {
            contents.push_back({f.name, std::vector<uint8_t>(f.size, 'x')});
        }
        volume.put_many("/", contents);
        const std::vector<std::string> shorts = volume.short_names("/");
        ASSERT_EQ(shorts.size(), files().size() + 1);
        const std::string folder = shorts[0];

        const Outcome r = sdsim(dir, "--card card.img ls --long");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<Line> lines = parse(r.out);
        ASSERT_EQ(lines.size(), shorts.size()) << r.out;
        EXPECT_EQ(lines[0].size, "-");
        EXPECT_EQ(lines[0].entry, "<Dir>" + folder);
        EXPECT_EQ(lines[0].long_name, "My Documents");
        for (size_t i = 1; i < lines.size(); ++i) {
            const File& f = files()[i - 1];
            EXPECT_EQ(lines[i].size, std::to_string(f.size));
            EXPECT_EQ(lines[i].entry, shorts[i]);
            EXPECT_EQ(lines[i].long_name, f.long_name ? f.name : "");
        }
        EXPECT_EQ(parse(sdsim(dir, "--card card.img ls -l " + folder).out).size(), 0u);

        // The module takes the 8.3 name only; the tool says which one to use.
        const Outcome by_long = sdsim(dir, "--card card.img cat data.json");
        EXPECT_EQ(by_long.status, 1);
        EXPECT_NE(by_long.err.find("sdsim: note: \"data.json\" is the long name of " + shorts[1] +
                                   "; the module takes 8.3 names"),
                  std::string::npos)
            << by_long.err;
        EXPECT_EQ(sdsim(dir, "--card card.img cat " + shorts[1]).out, std::string(8, 'x'));
        const Outcome listed = sdsim(dir, "--card card.img ls 'my documents'");
        EXPECT_NE(listed.err.find("is the long name of " + folder + ";"), std::string::npos) << listed.err;
        EXPECT_EQ(sdsim(dir, "--card card.img cat nothing.json").err.find("note"), std::string::npos);
    }
}

// A root directory whose chain loops: the module reports it, and the tool's
// own reading ends too.
TEST(SdsimLongNames, ALoopedDirectoryChainStillEnds) {
    ScratchDir dir;
    testsupport::VolumeSpec shape;
    shape.fat = 32;
    shape.size_kib = 40 * 1024;
    Volume volume(dir.file("card.img"), shape);
    volume.put("/data.json", {'{', '}'});
    std::vector<uint8_t> bytes = volume.bytes();
    const uint32_t reserved = bytes[14] | bytes[15] << 8;
    const uint32_t root = bytes[44] | bytes[45] << 8 | bytes[46] << 16 | uint32_t{bytes[47]} << 24;
    testsupport::put32(bytes, reserved * 512 + root * 4, root); // the root cluster is its own next
    volume.set_bytes(bytes);
    const Outcome r = sdsim(dir, "--card card.img ls -l");
    EXPECT_NE(r.status, 2) << r.err;
    EXPECT_NE(r.out.find("data.json"), std::string::npos) << r.out << r.err;
}

} // namespace
