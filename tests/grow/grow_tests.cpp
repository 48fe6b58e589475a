// The image that makes, grows, shrinks and deletes files, proven with the real
// tools: after every command mtools reads each file back byte for byte and
// fsck.fat -n finds nothing; a refused command changes no byte of the card.
#include <gtest/gtest.h>

#include "e2e_bench.h"
#include "image_features.h"
#include "sdtypes.h"

namespace {

using e2e::Bench;
using e2e::bytes;
using testsupport::pattern;
using Bytes = std::vector<uint8_t>;

struct Grower {
    explicit Grower(const testsupport::VolumeSpec& shape) : b(shape) {}

    void start() {
        b.insert_card();
        b.allow_any_write();
    }
    std::string create(const std::string& name) {
        b.call(MODE_CREATE, sim::counted(name));
        return b.console();
    }
    int32_t append(const Bytes& data) {
        return b.call(MODE_APPEND, sim::data_arg(data), 0, static_cast<int32_t>(data.size())).p2;
    }
    std::string set_size(int32_t size) {
        b.call(MODE_SET_SIZE, {0}, size);
        return b.console();
    }
    std::string remove(const std::string& name) {
        b.call(MODE_DELETE, sim::counted(name));
        return b.console();
    }
    std::string save(const std::string& name, const std::vector<std::string>& lines) {
        b.board().set_program(lines);
        b.call(MODE_SAVE, sim::counted(name));
        return b.console();
    }
    // What the real tools see agrees with what the module was told to do.
    void expect_tools_agree(const std::string& file, const Bytes& want) {
        EXPECT_EQ(b.volume().fsck_problems(), "");
        EXPECT_EQ(b.volume().get(file), want);
        EXPECT_EQ(b.volume().get("/KEEP.BIN"), keep);
    }

    Bench b;
    const Bytes keep = pattern(3000, 77);
};

testsupport::VolumeSpec shape_of(int fat) {
    testsupport::VolumeSpec shape;
    shape.fat = fat;
    shape.sectors_per_cluster = fat == 32 ? 1 : 2;
    shape.size_kib = fat == 32 ? 40 * 1024 : fat == 16 ? 8192 : 1024;
    return shape;
}

class Growing : public ::testing::TestWithParam<int> {};

TEST_P(Growing, FilesMadeGrownShrunkAndDeletedReadBackWithTheRealTools) {
    Grower g(shape_of(GetParam()));
    g.b.volume().put("/KEEP.BIN", g.keep);
    g.b.volume().mkdir("/DIR");
    g.b.volume().put("/Long File Name.txt", pattern(1500, 3));
    g.b.volume().put("/OLD.BAS", pattern(5000, 4));
    g.start();

    EXPECT_EQ(g.create("NEW.TXT"), "");
    g.expect_tools_agree("/NEW.TXT", {});
    Bytes file;
    for (const Bytes& piece :
         {bytes("first record\r\n"), bytes("second\r\n"), pattern(3000, 5), pattern(700, 6)}) {
        EXPECT_EQ(g.append(piece), static_cast<int32_t>(file.size()));
        EXPECT_EQ(g.b.console(), "");
        file.insert(file.end(), piece.begin(), piece.end());
        g.expect_tools_agree("/NEW.TXT", file);
    }
    EXPECT_EQ(g.set_size(10000), ""); // grows: the new bytes read as zero
    file.resize(10000, 0);
    g.expect_tools_agree("/NEW.TXT", file);
    EXPECT_EQ(g.b.read(9000, 16), Bytes(16, 0));
    const uint64_t free_before = g.b.volume().free_bytes();
    EXPECT_EQ(g.set_size(700), ""); // shrinks: the clusters past the end go back
    file.resize(700);
    g.expect_tools_agree("/NEW.TXT", file);
    EXPECT_GT(g.b.volume().free_bytes(), free_before);
    EXPECT_EQ(g.create("NEW.TXT"), ""); // exists: opened as it is
    g.expect_tools_agree("/NEW.TXT", file);
    EXPECT_EQ(g.b.read(0, 100), Bytes(file.begin(), file.begin() + 100));

    EXPECT_EQ(g.create("dir/inner.dat"), ""); // in a sub-directory, any case
    g.append(pattern(2000, 7));
    g.expect_tools_agree("/DIR/INNER.DAT", pattern(2000, 7));

    // A save into a missing file makes it exactly as long as the text; one
    // into a longer file leaves it that long too.
    EXPECT_EQ(g.save("PROG.BAS", {"10 PRINT 1", "20 END"}), "");
    g.expect_tools_agree("/PROG.BAS", bytes("10 PRINT 1\r\n20 END\r\n"));
    EXPECT_EQ(g.save("OLD.BAS", {"10 REM"}), "");
    g.expect_tools_agree("/OLD.BAS", bytes("10 REM\r\n"));

    EXPECT_EQ(g.remove("NEW.TXT"), "");
    EXPECT_EQ(g.remove("LONGFI~1.TXT"), ""); // with its long-name entries
    EXPECT_EQ(g.b.volume().fsck_problems(), "");
    EXPECT_EQ(g.b.volume().short_names("/"),
              (std::vector<std::string>{"KEEP.BIN", "DIR", "OLD.BAS", "PROG.BAS"}));
    EXPECT_EQ(g.b.volume().get("/KEEP.BIN"), g.keep);
}

INSTANTIATE_TEST_SUITE_P(Fat, Growing, ::testing::Values(12, 16, 32),
                         [](const auto& info) { return "Fat" + std::to_string(info.param); });

// Each refusal prints its message and leaves every byte of the card as it was.
TEST(Growing, RefusalsChangeNothing) {
    testsupport::VolumeSpec shape = shape_of(16);
    shape.root_entries = 16;
    Grower g(shape);
    g.b.volume().put("/KEEP.BIN", g.keep);
    g.b.volume().mkdir("/DIR");
    g.b.volume().put("/RO.TXT", bytes("read only"));
    g.b.volume().set_attributes("/RO.TXT", "+r");
    g.start();
    const Bytes before = g.b.volume().bytes();
    auto unchanged = [&] { EXPECT_EQ(g.b.volume().bytes(), before); };

    for (const char* bad : {"BAD*.TXT", "TOOLONGNAM.TX", "A.TEXT", "NAME.", ".TXT", "A+B", "D/X:Y"}) {
        EXPECT_EQ(g.create(bad), "Invalid Name\r\n") << bad;
    }
    unchanged();
    EXPECT_EQ(g.create("DIR"), "Access Denied\r\n");
    EXPECT_EQ(g.remove("DIR"), "Access Denied\r\n");
    EXPECT_EQ(g.remove("RO.TXT"), "Access Denied\r\n");
    EXPECT_EQ(g.remove("GHOST.TXT"), "No File\r\n");
    EXPECT_EQ(g.create("NODIR/A.TXT"), "No File\r\n");
    unchanged();

    // A full root directory: its slots as the boot record counts them, three used.
    const uint32_t slots = before[17] | before[18] << 8;
    for (uint32_t i = 0; i + 3 < slots; ++i) {
        ASSERT_EQ(g.create("F" + std::to_string(i) + ".TXT"), "") << i;
    }
    const Bytes full_root = g.b.volume().bytes();
    EXPECT_EQ(g.create("ONEMORE.TXT"), "Directory Full\r\n");
    EXPECT_EQ(g.b.volume().bytes(), full_root);
    EXPECT_EQ(g.b.volume().fsck_problems(), "");

    // A full card: a size or an append that does not fit changes nothing.
    EXPECT_EQ(g.create("F0.TXT"), "");
    const Bytes card = g.b.volume().bytes();
    const auto room = static_cast<int32_t>(g.b.volume().free_bytes());
    EXPECT_EQ(g.set_size(room + 1), "Card Full\r\n");
    EXPECT_EQ(g.b.volume().bytes(), card);
    EXPECT_EQ(g.set_size(room - 1000), "");
    const Bytes nearly_full = g.b.volume().bytes();
    g.b.call(MODE_APPEND, Bytes(4096, 1), 0, 4096);
    EXPECT_EQ(g.b.console(), "Card Full\r\n");
    EXPECT_EQ(g.b.volume().bytes(), nearly_full);
    EXPECT_EQ(g.b.volume().fsck_problems(), "");
}

} // namespace
