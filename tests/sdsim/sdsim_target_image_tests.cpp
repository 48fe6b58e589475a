// sdsim --target on the files a user programs: the Intel HEX runs where its
// addresses say, and sdsim's --at and the build's SDCARD_LOAD_ADDRESS check
// accept and refuse the same places for the same image.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "run_sdsim.h"
#include "volume.h"

namespace {

using sdsimtest::Outcome;
using sdsimtest::sdsim;
using testsupport::ScratchDir;

// What a message says, without the CMake or sdsim framing and line breaks.
std::string reason(const std::string& text) {
    const std::string flat = std::regex_replace(text, std::regex(R"(\s+)"), " ");
    std::smatch m;
    std::regex_search(
        flat, m,
        std::regex(R"((0x[0-9A-F]{8} (is|overlaps).*|an image of .*? at 0x[0-9A-F]{8} .*?0x[0-9A-F]{8}))"));
    return m.empty() ? "" : m[1].str();
}

// The build's check: empty when it accepts the address for an image of that size.
std::string build_refuses(const std::string& address, size_t size) {
    try {
        testsupport::run(testsupport::quote(CMAKE_COMMAND) + " -DADDRESS=" + address +
                         " -DSIZE=" + std::to_string(size) + " -P " + testsupport::quote(PLACEMENT_SCRIPT));
        return "";
    } catch (const std::runtime_error& e) {
        return reason(e.what());
    }
}

TEST(SdsimTargetImage, AtAndTheBuildAcceptAndRefuseTheSamePlaces) {
    ScratchDir dir;
    std::vector<uint8_t> image = testsupport::read_file(SDCARD_IMAGE_PATH);
    const size_t real = image.size();
    for (const size_t size : {real, size_t{0x3E000}}) {
        image.resize(size, 0); // the module runs from its start; what follows is never reached
        std::ofstream(dir.file("image.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(size));
        for (const char* at : {"0x9D001000", "0xBD001000", "0x9D020000", "0xBD030000", "0x9D000FFC",
                               "0x9D000000", "0xBD000800", "0x9D030002", "0x1D030000", "0x80001000",
                               "0x9D040000", "0x9D03E000", "0xBD03E004", "0x9D03F000"}) {
            SCOPED_TRACE(std::string(at) + ", " + std::to_string(size) + " bytes");
            const Outcome r = sdsim(dir, std::string("--target --image image.bin --at ") + at + " ls DATA");
            const std::string refused = build_refuses(at, size);
            EXPECT_EQ(reason(r.err), refused) << r.err;
            EXPECT_EQ(r.status, refused.empty() ? 0 : 2) << r.err;
            if (refused.empty()) {
                EXPECT_EQ(r.out, "NUMS.TXT\nLOG.TXT\n");
            }
        }
    }
}

TEST(SdsimTargetImage, IntelHexRunsWhereItsAddressesSay) {
    ScratchDir dir;
    const Outcome native = sdsim(dir, "ls DATA");
    // The build's own file, at SDCARD_LOAD_ADDRESS, with --at left out or agreeing in either segment.
    const std::string load = SDCARD_LOAD_ADDRESS;
    for (const std::string& at :
         std::vector<std::string>{"", " --at " + load, " --at 0xBD" + load.substr(4)}) {
        const Outcome r =
            sdsim(dir, "--target --image " + testsupport::quote(SDCARD_IHEX_PATH) + at + " ls DATA");
        EXPECT_EQ(r.status, 0) << at << r.err;
        EXPECT_EQ(r.out, native.out) << at;
    }
    const Outcome other =
        sdsim(dir, "--target --image " + testsupport::quote(SDCARD_IHEX_PATH) + " --at 0x9D001000 ls");
    EXPECT_EQ(other.status, 2);
    EXPECT_NE(other.err.find("disagrees with"), std::string::npos) << other.err;

    // Placed by objcopy near the end of flash, it is refused as sdsim refuses a binary there.
    testsupport::run(std::string(SDCARD_OBJCOPY) + " -I binary -O ihex --change-addresses 0x1D03F000 " +
                     testsupport::quote(SDCARD_IMAGE_PATH) + " " +
                     testsupport::quote(dir.file("late.ihex").string()));
    const Outcome late = sdsim(dir, "--target --image late.ihex ls");
    EXPECT_EQ(late.status, 2);
    EXPECT_EQ(reason(late.err),
              build_refuses("0x9D03F000", testsupport::read_file(SDCARD_IMAGE_PATH).size()));

    std::ifstream in(SDCARD_IHEX_PATH);
    std::string text{std::istreambuf_iterator<char>(in), {}};
    char& digit = text[text.find('\n') + 12]; // a data digit of line 2: its checksum fails
    digit = digit == '0' ? '1' : '0';
    std::ofstream(dir.file("bad.ihex"), std::ios::binary) << text;
    const Outcome bad = sdsim(dir, "--target --image bad.ihex ls");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("Intel HEX line 2: wrong checksum"), std::string::npos) << bad.err;
}

} // namespace
