// sdsim never harms the card image: not through a closed or full console
// stream, not on an image the user may only read.
#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "run_sdsim.h"
#include "volume.h"

namespace {

using sdsimtest::Outcome;
using sdsimtest::sdsim;
using testsupport::ScratchDir;
using testsupport::Volume;

std::vector<uint8_t> hello() { return {'h', 'e', 'l', 'l', 'o', '\r', '\n'}; }

TEST(SdsimImageSafety, ClosedOrFullOutputIsAToolErrorAndLeavesTheImageAsItWas) {
    ScratchDir dir;
    Volume volume(dir.file("g.img"), {});
    volume.put("/HELLO.TXT", hello());
    const std::vector<uint8_t> before = volume.bytes();
    struct Case {
        const char* args;
        const char* redirect;
        const char* err; // what stderr says, when it is open
    };
    for (const Case& c : {Case{"cat HELLO.TXT", ">&-", "standard output: Bad file descriptor"},
                          Case{"cat HELLO.TXT", ">/dev/full", "standard output: No space left on device"},
                          Case{"cat NOPE.TXT", "2>&-", ""}, Case{"ls", ">&- 2>&-", ""},
                          Case{"write HELLO.TXT 0", "<&-", "standard input: Bad file descriptor"}}) {
        const Outcome r = sdsim(dir, std::string("--card g.img ") + c.args, "", "", c.redirect);
        EXPECT_EQ(r.status, 2) << c.args << " " << c.redirect;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(volume.bytes(), before) << c.args << " " << c.redirect;
    }
    EXPECT_EQ(volume.fsck_problems(), "");
}

TEST(SdsimImageSafety, AReadOnlyImageServesReadsAndRefusesWritesBeforeAnyCall) {
    ScratchDir dir;
    Volume volume(dir.file("ro.img"), {});
    volume.put("/HELLO.TXT", hello());
    volume.put("/PROG.BAS", {'1', ' ', 'A', '\r', '\n'});
    const std::vector<uint8_t> before = volume.bytes();
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_all |
                                                 std::filesystem::perms::others_read |
                                                 std::filesystem::perms::others_exec);
    std::filesystem::permissions(volume.image(),
                                 std::filesystem::perms::owner_read | std::filesystem::perms::others_read);
    // Root may write any file: run as nobody then.
    const std::string user = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
    const std::string env = "SDSIM_DEMO_CARD=/nonexistent " + user;

    EXPECT_EQ(sdsim(dir, "--card ro.img ls", "", env).out, "HELLO.TXT\nPROG.BAS\n");
    EXPECT_EQ(sdsim(dir, "--card ro.img cat HELLO.TXT", "", env).out, "hello\r\n");
    EXPECT_EQ(sdsim(dir, "--card ro.img read HELLO.TXT 1 3", "", env).out, "ell");
    EXPECT_EQ(sdsim(dir, "--card ro.img load PROG.BAS", "", env).out, "1 A\r\n");
    EXPECT_EQ(sdsim(dir, "--card ro.img run -", "open HELLO.TXT\nread 0 2\n", env).out,
              "open HELLO.TXT -> ok\nread 0 2 -> 2 \"he\"\n");
    for (const char* args : {"write HELLO.TXT 0", "save PROG.BAS", "run -"}) {
        const Outcome r = sdsim(dir, std::string("--card ro.img ") + args, "write 0 x\n", env);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err, "sdsim: card image: cannot open 'ro.img': Permission denied\n") << args;
    }
    EXPECT_EQ(volume.bytes(), before);
    EXPECT_EQ(sdsim(dir, "--card nope.img ls").err,
              "sdsim: card image: cannot open 'nope.img': No such file or directory\n");
}

} // namespace
