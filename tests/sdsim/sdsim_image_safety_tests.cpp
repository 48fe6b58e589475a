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

// A card in a reader is a block device: a loop device stands in for one
// where this machine lets the test make it (root, loop support).
TEST(SdsimImageSafety, ABlockDeviceIsACardWithTheSameChecks) {
    ScratchDir dir;
    const Outcome not_card = sdsim(dir, "--card /dev/null ls");
    EXPECT_EQ(not_card.status, 2);
    EXPECT_EQ(
        not_card.err,
        "sdsim: card image: cannot open '/dev/null': neither an image file nor a block device (a card in a "
        "reader)\n");

    Volume volume(dir.file("card.img"), {});
    volume.put("/HELLO.TXT", hello());
    struct Loop {
        std::string device;
        ~Loop() {
            if (!device.empty()) {
                std::system(("losetup -d " + device).c_str());
            }
        }
    } writable, read_only;
    try {
        writable.device =
            testsupport::run("losetup -f --show " + testsupport::quote(volume.image().string()));
        read_only.device =
            testsupport::run("losetup -r -f --show " + testsupport::quote(volume.image().string()));
    } catch (const std::runtime_error& e) {
        GTEST_SKIP() << "no loop device here: " << e.what();
    }
    writable.device.pop_back(); // the line end
    read_only.device.pop_back();
    EXPECT_EQ(sdsim(dir, "--card " + read_only.device + " cat HELLO.TXT").out, "hello\r\n");
    const Outcome refused = sdsim(dir, "--card " + read_only.device + " write HELLO.TXT 0", "J");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("the device is read-only"), std::string::npos) << refused.err;

    const Outcome wrote = sdsim(dir, "--card " + writable.device + " write HELLO.TXT 0", "J");
    EXPECT_EQ(wrote.status, 0) << wrote.err;
    std::system(("blockdev --flushbufs " + writable.device).c_str());
    EXPECT_EQ(sdsimtest::file_on(volume.image().string(), "/HELLO.TXT").substr(0, 1), "J");
}

} // namespace
