// sdsim's own words: one line for each way a call loses data that the module
// does not report (and exit status 1), a warning for the tool's limits, and
// what it says of images the module cannot mount.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/wait.h>

#include "run_sdsim.h"
#include "volume.h"

namespace {

using sdsimtest::file_on;
using sdsimtest::Outcome;
using sdsimtest::sdsim;
using testsupport::ScratchDir;
using testsupport::Volume;

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// The line is the only one on stderr: a loss of the user's data makes the
// status 1, a warning leaves it the module's (0: it printed nothing).
void expect_one_line(const Outcome& r, const std::string& kind, const std::string& says) {
    EXPECT_EQ(r.status, kind == "data lost" ? 1 : 0) << r.err;
    EXPECT_EQ(count_of(r.err, "\n"), 1u) << r.err;
    EXPECT_EQ(r.err.rfind("sdsim: " + kind + ": ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
}

void expect_one_warning(const Outcome& r, const std::string& says) { expect_one_line(r, "warning", says); }
void expect_one_loss(const Outcome& r, const std::string& says) { expect_one_line(r, "data lost", says); }

struct WarningCard {
    ScratchDir dir;
    Volume volume{dir.file("w.img"), {}};
    std::string data = std::string(1024, '.');
    WarningCard() {
        volume.mkdir("/DATA");
        volume.put("/DATA/LONGNAME.TXT", bytes_of("x"));
        volume.put("/A.TXT", bytes_of(data));
        volume.put("/SMALL.PRG", bytes_of("12345678"));
        volume.put("/LF.PRG", bytes_of("1 A\n2 B\n"));
        volume.put("/LONG.PRG", bytes_of("1 " + std::string(300, 'L') + "\r\n"));
    }
    Outcome run(const std::string& args, const std::string& input = "") {
        return sdsim(dir, "--card w.img " + args, input);
    }
};

TEST(SdsimWarnings, EachLossTheModuleDoesNotReportIsNamedOnce) {
    WarningCard card;
    Outcome r = card.run("write A.TXT 1024", "x");
    expect_one_loss(r, "the write at 1024 wrote nothing");
    EXPECT_EQ(r.out, ""); // no position: nothing was written there
    r = card.run("write A.TXT 1020", "abcdefgh");
    expect_one_loss(r, "only 4 of 8 bytes were written");
    EXPECT_EQ(r.out, "1020\n");
    EXPECT_EQ(card.run("write A.TXT 0", "new").err, "");
    std::string expected = card.data;
    expected.replace(1020, 4, "abcd");
    expected.replace(0, 3, "new");
    EXPECT_EQ(file_on(card.volume.image(), "/A.TXT"), expected); // the lines told the truth

    // The standard image saves into the file as it is; the growing one (the
    // native build) makes it as long as the text.
    expect_one_loss(card.run("--target save SMALL.PRG", "10 PRINT 1\n"),
                    "the program's 14 bytes do not fit SMALL.PRG (8 bytes): the last 6 were cut and the "
                    "program's end marks are missing");
    EXPECT_EQ(card.run("save SMALL.PRG", "10 PRINT 1\n").err, "");
    EXPECT_EQ(file_on(card.volume.image(), "/SMALL.PRG"), "10 PRINT 1\r\n");
    card.volume.put("/ROOMY.PRG", std::vector<uint8_t>(2048, ' '));
    const std::string long_line = "2 " + std::string(300, 'L') + "\n";
    expect_one_loss(
        card.run("save ROOMY.PRG", "1 A\n" + long_line + long_line),
        "line 2 of the program has 302 characters, and 1 more over 254; the host lists at most 254 "
        "of a line, so ROOMY.PRG got only those");
    expect_one_warning(card.run("load LF.PRG"), "LF.PRG has line ends without CR");
    expect_one_warning(card.run("load LONG.PRG"), "line 1 of LONG.PRG has 302 characters");
    expect_one_warning(card.run("run -", "save SMALL.PRG\n"), "save before any load or program text");
    r = card.run("cat DATA/LONGNAME.TXT");
    EXPECT_EQ(r.err, "No File\r\nsdsim: warning: the module takes at most 14 characters: DATA/LONGNAME.TXT "
                     "is 17\nNot Opened\r\n");
    EXPECT_EQ(r.status, 1);

    // A loss inside a script: its line says so, the status too, and the write shows no position.
    r = card.run("run -", "write 5 abc\nopen A.TXT\nwrite 2000 abc\n");
    EXPECT_EQ(r.status, 1);
    const size_t first_end = r.out.find('\n');
    EXPECT_EQ(r.out.substr(0, first_end).rfind("write 5 abc -> ! Not Opened", 0), 0u) << r.out;
    EXPECT_EQ(r.out.substr(first_end + 1), "open A.TXT -> ok\nwrite 2000 abc -> nothing written\n");
    EXPECT_EQ(r.err,
              "sdsim: data lost: the write at 2000 wrote nothing: the file is 1024 bytes long and never "
              "grows\n");
}

// A reader that stops early ends the run quietly, as it does other tools.
TEST(SdsimWarnings, AClosedPipeEndsTheRunQuietly) {
    WarningCard card;
    card.volume.put("/BIG.TXT", std::vector<uint8_t>(1 << 20, 'b'));
    const std::string err = card.dir.file("err").string();
    const std::string command = "cd " + testsupport::quote(card.dir.path().string()) + " && " +
                                testsupport::quote(SDSIM_BINARY) + " --card w.img cat BIG.TXT 2>" +
                                testsupport::quote(err) + " | head -c 10 >/dev/null; exit ${PIPESTATUS[0]}";
    const int raw = std::system(("bash -c " + testsupport::quote(command)).c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
    EXPECT_EQ(testsupport::read_file(err).size(), 0u);
}

TEST(SdsimWarnings, LoadAndSaveAgreeOnTheLargestProgram) {
    ScratchDir dir;
    testsupport::VolumeSpec shape;
    Volume volume(dir.file("p.img"), shape);
    volume.put("/BIG.PRG", std::vector<uint8_t>(52000, ' '));
    std::string largest;
    for (int n = 0; largest.size() < 51198 - 100; ++n) {
        largest += std::to_string(n) + " PRINT " + std::string(80, 'x') + "\r\n";
    }
    largest += std::string(51198 - largest.size() - 2, 'y') + "\r\n";
    ASSERT_EQ(largest.size(), 51198u);
    std::ofstream(dir.file("largest.txt"), std::ios::binary) << largest;
    const Outcome saved = sdsim(dir, "--card p.img save BIG.PRG largest.txt");
    EXPECT_EQ(saved.status, 0) << saved.err;
    const Outcome loaded = sdsim(dir, "--card p.img load BIG.PRG");
    EXPECT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_TRUE(loaded.out == largest) << loaded.out.size();
    std::ofstream(dir.file("larger.txt"), std::ios::binary) << largest << "1\r\n";
    const Outcome refused = sdsim(dir, "--card p.img save BIG.PRG larger.txt");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("a load takes at most 51198"), std::string::npos) << refused.err;
    EXPECT_NE(sdsim(dir, "save --help").out.find("51,198"), std::string::npos);
}

TEST(SdsimWarnings, ImagesTheModuleCannotMountGetOneLineSayingWhy) {
    ScratchDir dir;
    std::ofstream(dir.file("tiny.img"), std::ios::binary) << std::string(100, 'x');
    std::ofstream(dir.file("zero.img"), std::ios::binary) << std::string(1 << 20, '\0');
    testsupport::run("mkfs.fat -C -S 1024 " + testsupport::quote(dir.file("big.img").string()) +
                     " 4096 >/dev/null");
    for (const auto& [image, says] :
         {std::pair{"tiny.img", "too small to hold a boot sector"},
          std::pair{"zero.img", "holds no FAT volume"}, std::pair{"big.img", "1024-byte sectors"}}) {
        const Outcome r = sdsim(dir, std::string("--card ") + image + " ls");
        EXPECT_LE(r.status, 1) << image << r.err; // the module may not notice odd sectors
        EXPECT_EQ(count_of(r.err, "sdsim: "), 1u) << r.err;
        EXPECT_NE(r.err.find(std::string("sdsim: ") + image + ": "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(says), std::string::npos) << r.err;
    }
}

TEST(SdsimWarnings, ATrailingSlashNamesTheDirectory) {
    WarningCard card;
    const Outcome r = card.run("ls DATA/");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, card.run("ls DATA").out);
}

} // namespace
