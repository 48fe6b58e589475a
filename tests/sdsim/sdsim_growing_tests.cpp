// sdsim on the three images: the growing commands on the native build (the
// growing image), what the status command says, and the commands an image
// lacks refused before any call.
#include <gtest/gtest.h>

#include "run_sdsim.h"
#include "volume.h"

namespace {

using sdsimtest::file_on;
using sdsimtest::Outcome;
using sdsimtest::sdsim;
using testsupport::ScratchDir;
using testsupport::Volume;

struct GrowCard {
    ScratchDir dir;
    Volume volume{dir.file("g.img"), {}};
    GrowCard() {
        volume.mkdir("/DATA");
        volume.put("/KEEP.TXT", {'k', 'e', 'e', 'p'});
    }
    Outcome run(const std::string& args, const std::string& input = "") {
        return sdsim(dir, "--card g.img " + args, input);
    }
};

TEST(SdsimGrowing, CreateAppendTruncateAndRmReadBackWithTheRealTools) {
    GrowCard card;
    EXPECT_EQ(card.run("create DATA/LOG.TXT").status, 0);
    Outcome r = card.run("append DATA/LOG.TXT", "first\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0\n");
    EXPECT_EQ(card.run("append DATA/LOG.TXT", std::string(600, 's')).out, "6\n");
    EXPECT_EQ(file_on(card.volume.image(), "/DATA/LOG.TXT"), "first\n" + std::string(600, 's'));
    EXPECT_EQ(card.run("truncate DATA/LOG.TXT 1000").status, 0);
    EXPECT_EQ(file_on(card.volume.image(), "/DATA/LOG.TXT"),
              "first\n" + std::string(600, 's') + std::string(394, '\0'));
    EXPECT_EQ(card.run("truncate DATA/LOG.TXT 3").status, 0);
    EXPECT_EQ(file_on(card.volume.image(), "/DATA/LOG.TXT"), "fir");
    // A save makes the file it names, exactly as long as the text.
    EXPECT_EQ(card.run("save NEW.BAS", "10 PRINT 1\n").status, 0);
    EXPECT_EQ(file_on(card.volume.image(), "/NEW.BAS"), "10 PRINT 1\r\n");
    EXPECT_EQ(card.run("rm NEW.BAS").status, 0);
    EXPECT_EQ(card.run("ls DATA").out, "LOG.TXT\n");
    EXPECT_EQ(card.run("ls").out, "<Dir>DATA\nKEEP.TXT\n");
    EXPECT_EQ(card.volume.fsck_problems(), "");

    r = card.run("rm DATA");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Access Denied\r\n");
    r = card.run("append NOPE.TXT", "x");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, ""); // nothing went anywhere
    EXPECT_EQ(r.err, "No File\r\nNot Opened\r\n");
}

TEST(SdsimGrowing, StatusSaysTheOpenFileTheLastResultAndTheImagesCommands) {
    GrowCard card;
    Outcome r = card.run("status");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "open file:   no file open\nlast result: 0 (ok)\ncommands:    0 set-cs, 1 open, 2 read, "
                     "3 write, 4 opendir, 5 readdir, 6 load, 7 save, 8 status, 9 create, 10 set-size, "
                     "11 append, 12 delete\n");
    EXPECT_EQ(card.run("--target --image readonly status").out,
              "open file:   no file open\nlast result: 0 (ok)\ncommands:    0 set-cs, 1 open, 2 read, "
              "4 opendir, 5 readdir, 6 load, 8 status\n");
    r = card.run("run -", "open KEEP.TXT\nread 1 2\nstatus\nopen NOPE.TXT\nstatus\n");
    EXPECT_EQ(r.out.substr(r.out.find("status")),
              "status -> file open at 3 of 4 bytes; last result 0 (ok); commands 0 set-cs, 1 open, 2 read, "
              "3 write, 4 opendir, 5 readdir, 6 load, 7 save, 8 status, 9 create, 10 set-size, 11 append, "
              "12 delete\nopen NOPE.TXT -> ! No File\nstatus -> no file open; last result 3 (No File); "
              "commands 0 set-cs, 1 open, 2 read, 3 write, 4 opendir, 5 readdir, 6 load, 7 save, 8 status, "
              "9 create, 10 set-size, 11 append, 12 delete\n");
}

// One line, exit status 2, and not a byte of the card changed.
TEST(SdsimGrowing, ACommandTheImageLacksIsRefusedBeforeAnyCall) {
    GrowCard card;
    const std::vector<uint8_t> before = card.volume.bytes();
    for (const auto& [image, args] :
         {std::pair{"standard", "create A.TXT"}, std::pair{"standard", "rm KEEP.TXT"},
          std::pair{"standard", "truncate KEEP.TXT 1"}, std::pair{"standard", "append KEEP.TXT"},
          std::pair{"readonly", "write KEEP.TXT 0"}, std::pair{"readonly", "save KEEP.TXT"},
          std::pair{"readonly", "run -"}}) {
        const Outcome r = card.run(std::string("--target --image ") + image + " " + args, "write 0 x\n");
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.out, "") << args;
        EXPECT_EQ(r.err.rfind("sdsim: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("the image has no command"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    EXPECT_EQ(card.volume.bytes(), before);
    // The growing chip image has them, as the native build does.
    EXPECT_EQ(card.run("--target --image growing create A.TXT").status, 0);
    EXPECT_EQ(card.run("--target --image=growing append A.TXT", "chip").out, "0\n");
    EXPECT_EQ(file_on(card.volume.image(), "/A.TXT"), "chip");
    EXPECT_EQ(card.run("truncate KEEP.TXT -1").status, 2);
}

} // namespace
