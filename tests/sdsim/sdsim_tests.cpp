// sdsim from the outside: exit statuses, error lines, the demo card, and every
// command on real images.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "run_sdsim.h"
#include "volume.h"

namespace {

using sdsimtest::demo_card;
using sdsimtest::file_on;
using sdsimtest::Outcome;
using sdsimtest::sdsim;
using testsupport::ScratchDir;

// A tool problem: exit 2, nothing on stdout, one line on stderr.
void expect_tool_error(const Outcome& r, const std::string& mentions) {
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.rfind("sdsim: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find(mentions), std::string::npos) << r.err;
}

TEST(SdsimUsage, HelpDescribesEveryCommandOptionAndExitStatus) {
    ScratchDir dir;
    const Outcome r = sdsim(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* word : {"ls [-l] [DIR]",  "cat FILE",           "read FILE POS COUNT",
                             "write FILE POS", "load FILE",          "save FILE [TEXTFILE]",
                             "run SCRIPT",     "setcs PIN",          "opendir",
                             "readdir",        "call MODE",          "--card",
                             "--kind",         "--package",          "--target",
                             "Exit status",    "demo.img",           "status",
                             "create FILE",    "truncate FILE SIZE", "append FILE",
                             "rm FILE",        "--image IMAGE"}) {
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
    }
    EXPECT_FALSE(std::filesystem::exists(demo_card(dir))); // help makes no card
}

TEST(SdsimUsage, BadCommandLinesExitWithStatus2AndOneLine) {
    ScratchDir dir;
    expect_tool_error(sdsim(dir, ""), "no command");
    expect_tool_error(sdsim(dir, "format"), "unknown command 'format'");
    expect_tool_error(sdsim(dir, "--verbose ls"), "unknown option --verbose");
    expect_tool_error(sdsim(dir, "cat"), "wrong number of arguments");
    expect_tool_error(sdsim(dir, "read A.TXT 0"), "wrong number of arguments");
    expect_tool_error(sdsim(dir, "--kind sdxc ls"), "unknown card kind 'sdxc'");
    expect_tool_error(sdsim(dir, "--package 40 ls"), "unknown package '40'");
    expect_tool_error(sdsim(dir, "--card"), "--card needs a value");
    expect_tool_error(sdsim(dir, "read A.TXT zero 5"), "POS");
    expect_tool_error(sdsim(dir, "read A.TXT 0 4097"), "at most 4096");
    expect_tool_error(sdsim(dir, "write A.TXT 0", std::string(4097, 'x')), "at most 4096");
    for (const char* fault : {"bogus", "power-cut", "power-cut@0", "glitch@5", "glitch@5:8", "no-card@3",
                              "glitch-out", "glitch-out@0:1", "glitch-out@5:", "glitch-out@x:1"}) {
        expect_tool_error(sdsim(dir, std::string("--fault ") + fault + " ls"), "--fault");
    }
    for (const char* timing : {"--card-timing medium", "--card-timing=", "--card-timing=Fast"}) {
        expect_tool_error(sdsim(dir, std::string(timing) + " ls"), "--card-timing");
    }
    // Malformed, zero, no CPU time left by one load or by several together, or without --target.
    for (const char* load :
         {"--interrupts 10", "--interrupts=x:1", "--interrupts 10:", "--interrupts 0:0", "--interrupts 10:0",
          "--interrupts 10:10", "--interrupts 10:20", "--interrupts 10:-1", "--interrupts 99999999999:1",
          "--interrupts 10:5 --interrupts 4:2", "--interrupts 3:1 --interrupts 3:1 --interrupts 3:1"}) {
        expect_tool_error(sdsim(dir, std::string("--target ") + load + " ls"), "--interrupts");
    }
    expect_tool_error(sdsim(dir, "--interrupts 100:10 ls"), "--interrupts goes with --target");
}

TEST(SdsimFaults, TheCardFailsAsAskedAndTheToolSaysWhereTheFaultFired) {
    ScratchDir dir;
    Outcome r = sdsim(dir, "--fault never-ready --fault busy-forever ls");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Not Ready\r\nNot Enabled\r\nNot Enabled\r\n"
                     "sdsim: fault never-ready, busy-forever: fired at bus byte 52, in call 1 (opendir)\n");
    r = sdsim(dir, "--fault no-token cat README.TXT");
    EXPECT_NE(r.err.find("Disk Error"), std::string::npos);
    EXPECT_NE(r.err.find("fired at bus byte"), std::string::npos);
    EXPECT_NE(r.err.find("in call 1 (open)"), std::string::npos);
    // A write fault acts only when something is written.
    r = sdsim(dir, "--fault crc-error cat README.TXT");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("sdsim: fault crc-error: did not fire"), std::string::npos);
    r = sdsim(dir, "--fault glitch@3000:0 --fault power-cut@100000 cat README.TXT");
    EXPECT_NE(r.err.find("fired at bus byte 3000, in call"), std::string::npos);
    // The 13th byte the card receives opens the CMD0 frame: with its start bit flipped the card never
    // answers.
    r = sdsim(dir, "--card-timing fast --fault glitch-out@13:6 ls");
    EXPECT_EQ(r.err, "Not Ready\r\nNot Enabled\r\nNot Enabled\r\n"
                     "sdsim: fault glitch-out@13:6: fired at bus byte 13, in call 1 (opendir)\n");
}

TEST(SdsimUsage, OptionsStandAnywhereInEitherFormUntilDoubleDash) {
    ScratchDir dir;
    testsupport::Volume volume(dir.file("x.img"), {});
    volume.put("/-1", {'m', 'i', 'n', 'u', 's'});
    volume.put("/A.TXT", {'a', 'b', 'c'});
    for (const char* line :
         {"--card x.img ls", "ls --card x.img", "--card=x.img ls", "ls --kind=mmc --card=x.img"}) {
        EXPECT_EQ(sdsim(dir, line).out, "-1\nA.TXT\n") << line;
    }
    const Outcome dir_named_like_an_option = sdsim(dir, "--card x.img -- ls --kind=mmc");
    EXPECT_EQ(dir_named_like_an_option.status, 1);
    EXPECT_EQ(dir_named_like_an_option.err, "No File\r\n");
    // A negative number is an argument; after --, so is a word that looks like an option.
    EXPECT_EQ(sdsim(dir, "read --card x.img A.TXT -1 2").out, "ab");
    EXPECT_EQ(sdsim(dir, "--card x.img read -- -1 0 5").out, "minus");
    expect_tool_error(sdsim(dir, "ls --target=yes"), "--target takes no value");
    expect_tool_error(sdsim(dir, "ls -x"), "unknown option -x");

    const Outcome version = sdsim(dir, "--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("sdsim ", 0), 0u) << version.out;
    const Outcome write_help = sdsim(dir, "write --help");
    EXPECT_EQ(write_help.status, 0);
    EXPECT_NE(write_help.out.find("write FILE POS"), std::string::npos) << write_help.out;
    EXPECT_EQ(write_help.out.find("read FILE POS COUNT"), std::string::npos) << write_help.out;
    expect_tool_error(sdsim(dir, "format --help"), "unknown command 'format'");
    EXPECT_FALSE(std::filesystem::exists(demo_card(dir)));
}

TEST(SdsimUsage, ProblemsWithTheToolsOwnInputExitWithStatus2) {
    ScratchDir dir;
    expect_tool_error(sdsim(dir, "--card missing.img ls"), "missing.img");
    expect_tool_error(sdsim(dir, "run no-such-script"), "no-such-script");
    expect_tool_error(sdsim(dir, "save SAVED.PRG no-such-text"), "no-such-text");
    // A file that opens but cannot be read is no empty program or script.
    expect_tool_error(sdsim(dir, "save SAVED.PRG ."), "cannot read program text '.'");
    expect_tool_error(sdsim(dir, "run ."), "cannot read script '.'");
    // A broken script runs no call at all.
    expect_tool_error(sdsim(dir, "run -", "open HELLO.TXT\nread 0\n"), "script line 2");
    expect_tool_error(sdsim(dir, "run -", "open HELLO.TXT\nwrite 0 bad\\q\n"), "script line 2");
    expect_tool_error(sdsim(dir, "run -", "opendir\nformat\n"), "unknown step 'format'");
}

TEST(SdsimDemoCard, IsMadeOnFirstUseInTheCacheAndIsACleanVolume) {
    ScratchDir dir;
    const std::string env =
        "-u SDSIM_DEMO_CARD XDG_CACHE_HOME=" + testsupport::quote(dir.file("cache").string());
    const Outcome r = sdsim(dir, "ls", "", env);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "<Dir>DATA\nREADME.TXT\nHELLO.TXT\nSCRATCH.TXT\nSAMPLE.PRG\nSAVED.PRG\n");
    const std::string image = dir.file("cache/sdsim/demo.img").string();
    ASSERT_TRUE(std::filesystem::exists(image));
    EXPECT_EQ(testsupport::run("fsck.fat -n " + testsupport::quote(image) + " >/dev/null && echo clean"),
              "clean\n");

    // Later runs use the same card, writes included.
    EXPECT_EQ(sdsim(dir, "write SCRATCH.TXT 5", "kept", env).out, "5\n");
    EXPECT_EQ(sdsim(dir, "read SCRATCH.TXT 0 12", "", env).out, ".....kept...");
    EXPECT_EQ(sdsim(dir, "ls DATA", "", env).out, "NUMS.TXT\nLOG.TXT\n");
}

TEST(SdsimCommands, CatAndReadGiveTheFilesBytes) {
    ScratchDir dir;
    Outcome r = sdsim(dir, "cat DATA/NUMS.TXT");
    EXPECT_EQ(r.status, 0);
    const std::string numbers = file_on(demo_card(dir), "/DATA/NUMS.TXT");
    EXPECT_GT(numbers.size(), 512u);
    EXPECT_EQ(r.out, numbers);
    EXPECT_EQ(sdsim(dir, "read DATA/NUMS.TXT 10 300").out, numbers.substr(10, 300));
    EXPECT_EQ(sdsim(dir, "read HELLO.TXT -1 5").out, "Hello");
}

TEST(SdsimCommands, WritePrintsThePositionUsedAndChangesOnlyThoseBytes) {
    ScratchDir dir;
    sdsim(dir, "ls");
    const std::string before = file_on(demo_card(dir), "/SCRATCH.TXT");
    Outcome r = sdsim(dir, "write SCRATCH.TXT 70", "written");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "70\n");
    std::string expected = before;
    expected.replace(70, 7, "written");
    EXPECT_EQ(file_on(demo_card(dir), "/SCRATCH.TXT"), expected);
    EXPECT_EQ(sdsim(dir, "write SCRATCH.TXT -1", "x").out, "0\n");
}

TEST(SdsimCommands, SaveThenLoadRoundTripsAProgram) {
    ScratchDir dir;
    Outcome r = sdsim(dir, "save SAVED.PRG", "10 PRINT 1\n20 GOTO 10\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(sdsim(dir, "load SAVED.PRG").out, "10 PRINT 1\r\n20 GOTO 10\r\n");
    std::ofstream(dir.file("prog.txt")) << "1 A\r\n2 B\r\n";
    EXPECT_EQ(sdsim(dir, "save SAVED.PRG prog.txt").status, 0);
    EXPECT_EQ(sdsim(dir, "load SAVED.PRG").out, "1 A\r\n2 B\r\n");
    EXPECT_EQ(sdsim(dir, "load SAMPLE.PRG").out, file_on(demo_card(dir), "/SAMPLE.PRG"));
}

TEST(SdsimCommands, ModuleMessagesGoToStderrAsPrintedWithStatus1) {
    ScratchDir dir;
    Outcome r = sdsim(dir, "cat NOPE.TXT");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "No File\r\nNot Opened\r\n");
    r = sdsim(dir, "ls NOPE");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No File\r\n");
}

TEST(SdsimCommands, RunPrintsOneLinePerCallOnOneCard) {
    ScratchDir dir;
    const std::string script = "# every step once\n"
                               "setcs 4\n"
                               "open HELLO.TXT\n"
                               "read 0 5\n"
                               "read -1 2\n"
                               "write -1 Howdy\\r\\n\n"
                               "write -1 !\n"
                               "read 0 8\n"
                               "\n"
                               "opendir DATA\n"
                               "readdir\n"
                               "readdir\n"
                               "readdir\n"
                               "load SAMPLE.PRG\n"
                               "save SAVED.PRG\n"
                               "open NOPE.TXT\n"
                               "call 42\n";
    const Outcome r = sdsim(dir, "run -", script);
    EXPECT_EQ(r.status, 1);
    // Each message once: in its result line, not on stderr as well.
    EXPECT_EQ(r.err, "");
    const std::string sample = file_on(demo_card(dir), "/SAMPLE.PRG");
    EXPECT_EQ(r.out, "setcs 4 -> ok\n"
                     "open HELLO.TXT -> ok\n"
                     "read 0 5 -> 5 \"Hello\"\n"
                     "read -1 2 -> 2 \" f\"\n"
                     "write -1 Howdy\\r\\n -> at 0\n"
                     "write -1 ! -> at 7\n"
                     "read 0 8 -> 8 \"Howdy\\r\\n!\"\n"
                     "opendir DATA -> ok\n"
                     "readdir -> \"NUMS.TXT\"\n"
                     "readdir -> \"LOG.TXT\"\n"
                     "readdir -> end\n"
                     "load SAMPLE.PRG -> " +
                         std::to_string(sample.size()) + " bytes " +
                         "\"10 PRINT \\\"Hello from the card\\\"\\r\\n" +
                         "20 FOR I = 1 TO 3\\r\\n30 PRINT I\\r\\n40 NEXT I\\r\\n50 END\\r\\n\"\n" +
                         "save SAVED.PRG -> ok\n"
                         "open NOPE.TXT -> ! No File\n"
                         "call 42 -> ok\n");
    // The loaded program was the host's program when it was saved.
    EXPECT_EQ(file_on(demo_card(dir), "/SAVED.PRG").substr(0, sample.size()), sample);
}

TEST(SdsimCards, EveryKindAndPackageReadsAPartitionedFat32Card) {
    ScratchDir dir;
    testsupport::VolumeSpec shape;
    shape.fat = 32;
    shape.size_kib = 40 * 1024;
    shape.partition_start = 2048;
    testsupport::Volume volume(dir.file("card.img"), shape);
    volume.mkdir("/SUB");
    volume.put("/SUB/DEEP.TXT", {'d', 'e', 'e', 'p'});
    for (const char* options :
         {"--kind sdhc", "--kind sdsc --package 44", "--kind sdv1", "--kind mmc --package 44"}) {
        const std::string card = std::string("--card card.img ") + options;
        EXPECT_EQ(sdsim(dir, card + " ls").out, "<Dir>SUB\n") << options;
        EXPECT_EQ(sdsim(dir, card + " cat /SUB/DEEP.TXT").out, "deep") << options;
    }
    EXPECT_FALSE(std::filesystem::exists(demo_card(dir)));
}

// The dump opens in sigrok and holds the same bus bytes on both back-ends.
// The decoded lines from the first CMD17 on, each run of polls (0xFF) as one:
// on a card that keeps time, how many polls a wait takes and how many ACMD41
// the start-up needs follow the speed of the CPU.
std::string reads_with_polls_as_one(const std::string& decoded) {
    const size_t first_read = std::min(decoded.find("spi-1: 51\n"), decoded.size());
    return std::regex_replace(decoded.substr(first_read), std::regex("(spi-1: FF\n)+"), "spi-1: FF\n");
}

TEST(SdsimTrace, CatOfASmallFileDecodesToTheSameReadsOnBothBackEnds) {
    ScratchDir dir;
    std::vector<std::string> mosi;
    for (const std::string backend : {"", "--target "}) {
        const Outcome r = sdsim(dir, backend + "--trace bus.vcd cat HELLO.TXT");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "Hello from the SD card!\r\n");
        mosi.push_back(reads_with_polls_as_one(
            testsupport::run("sigrok-cli -I vcd -i " + testsupport::quote(dir.file("bus.vcd").string()) +
                             " -P spi:clk=sck:mosi=mosi:miso=miso:cs=cs:cpol=1:cpha=1 -A spi=mosi-data")));
    }
    EXPECT_NE(mosi[0].find("spi-1: 51"), std::string::npos) << "a CMD17 frame";
    EXPECT_EQ(mosi[0], mosi[1]);
}

// Only the calls asked for, from time 0: the read of call 2 without the start-up of call 1.
TEST(SdsimTrace, TraceCallsKeepsOnlyThoseCalls) {
    ScratchDir dir;
    const auto mosi = [&](const std::string& args) {
        const Outcome r = sdsim(dir, "--trace bus.vcd " + args);
        EXPECT_EQ(r.status, 0) << r.err;
        return testsupport::run("sigrok-cli -I vcd -i " + testsupport::quote(dir.file("bus.vcd").string()) +
                                " -P spi:clk=sck:mosi=mosi:miso=miso:cs=cs:cpol=1:cpha=1 -A spi=mosi-data");
    };
    const std::string whole = mosi("cat DATA/NUMS.TXT");
    const std::string second = mosi("--trace-calls 2-2 cat DATA/NUMS.TXT");
    EXPECT_NE(whole.find("spi-1: 40"), std::string::npos) << "CMD0 of the mount";
    EXPECT_EQ(second.find("spi-1: 40"), std::string::npos);
    EXPECT_NE(second.find("spi-1: 51"), std::string::npos) << "CMD17";
    EXPECT_LT(second.size() * 3, whole.size());
    EXPECT_EQ(mosi("--trace-calls=1-99 cat DATA/NUMS.TXT"), whole);
    for (const char* range : {"0-2", "3-2", "x", "2-", "-3"}) {
        expect_tool_error(sdsim(dir, std::string("--trace bus.vcd --trace-calls ") + range + " ls"),
                          "--trace-calls");
    }
    expect_tool_error(sdsim(dir, "--trace-calls 1-2 ls"), "--trace-calls goes with --trace");
}

TEST(SdsimTrace, AnUnwritablePathIsAToolErrorBeforeAnyModuleCall) {
    ScratchDir dir;
    expect_tool_error(sdsim(dir, "--trace no/such/dir/bus.vcd cat HELLO.TXT"), "No such file or directory");
    expect_tool_error(sdsim(dir, "--target --trace . ls"), "Is a directory");
}

} // namespace
