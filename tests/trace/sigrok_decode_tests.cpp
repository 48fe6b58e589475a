// A trace of a whole session (mount, list, read, write, save) decoded by
// sigrok's spi and sdcard_spi decoders, an outside judge of the bus protocol:
// the commands they find must be the card model's own log, in order, on each
// kind of card and on both back-ends.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "emu_cpu.h"
#include "native_cpu.h"
#include "sd_card.h"
#include "sdtypes.h"
#include "vcd_trace.h"
#include "volume.h"

namespace {

constexpr int8_t CS_PIN = 7;

struct Command {
    uint32_t index;
    uint32_t arg;
    bool operator==(const Command&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Command& c) {
    return out << "CMD" << c.index << "(" << c.arg << ")";
}

std::vector<Command> card_log(const sim::SdCard& card) {
    std::vector<Command> log;
    for (const auto& c : card.commands()) {
        log.push_back({c.index, c.arg});
    }
    return log;
}

struct Decoded {
    std::string mosi;               // the bytes spi saw while cs was low
    std::vector<Command> annotated; // what sdcard_spi made of them
};

// Every edge falls on a SYSCLK cycle (25 ns), so sigrok may sample at 40 MHz
// instead of the dump's 1 GHz without losing one. One run of both decoders:
// spi's MOSI bytes ("spi-1: 40") and sdcard_spi's "Command: CMD17 (...)" or
// "ACMD41", each followed by "Argument: 0x...".
Decoded sigrok(const std::string& vcd, bool sdcard_spi) {
    const std::string text =
        testsupport::run("sigrok-cli -I vcd:downsample=25 -i " + testsupport::quote(vcd) +
                         " -P spi:clk=sck:mosi=mosi:miso=miso:cs=cs:cpol=1:cpha=1" +
                         (sdcard_spi ? ",sdcard_spi -A spi=mosi-data,sdcard_spi" : " -A spi=mosi-data"));
    static const std::regex byte(R"(^spi-1: ([0-9A-F]{2})$)"), command(R"(Command: A?CMD(\d+) )"),
        argument(R"(Argument: 0x([0-9a-f]+))");
    Decoded d;
    std::istringstream lines(text);
    std::smatch m;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, m, byte)) {
            d.mosi.push_back(static_cast<char>(std::stoul(m[1], nullptr, 16)));
        } else if (std::regex_search(line, m, command)) {
            d.annotated.push_back({static_cast<uint32_t>(std::stoul(m[1])), 0});
        } else if (std::regex_search(line, m, argument) && !d.annotated.empty()) {
            d.annotated.back().arg = static_cast<uint32_t>(std::stoul(m[1], nullptr, 16));
        }
    }
    return d;
}

// Where sdcard_spi (libsigrokdecode 0.5.3) stops following the bus:
// - It never clears its single-block read state (is_cmd17,
//   cmd17_start_token_found, read_buf) once a block is done: from the R1 of
//   the command after the first CMD17 on, it counts every byte as more block
//   data and decodes no further command.
// - It takes any command after CMD55 as an application command, even when
//   the card refused CMD55 as illegal, as an MMC does; it then reads the
//   MMC's first CMD1 as "ACMD1", has no handler for that and fails with a
//   Python error on every later byte. So it is not run on an MMC at all.
// Up to there its reading must be the card's log exactly; the whole session
// is judged on the spi decoder's bytes.
size_t sdcard_spi_follows(const std::vector<Command>& logged) {
    size_t i = 0;
    while (i < logged.size() && logged[i].index != 17) {
        ++i;
    }
    return i + 2;
}

// Command frames among the bytes spi's decoder saw on MOSI while cs was low:
// 0x40 | index, four argument bytes, the CRC. The host sends 0xFF otherwise,
// except a written block (token 0xFE, 512 bytes, CRC) after CMD24.
std::vector<Command> framed_commands(const std::string& mosi) {
    std::vector<Command> found;
    for (size_t i = 0; i < mosi.size();) {
        const auto byte = [&](size_t at) { return static_cast<uint8_t>(mosi.at(at)); };
        if (byte(i) == 0xFF) {
            ++i;
            continue;
        }
        if ((byte(i) & 0xC0) != 0x40) {
            ADD_FAILURE() << "byte " << i << " on MOSI is neither idle nor a command: " << int(byte(i));
            return found;
        }
        const Command c{byte(i) & 0x3Fu, uint32_t(byte(i + 1)) << 24 | uint32_t(byte(i + 2)) << 16 |
                                             uint32_t(byte(i + 3)) << 8 | byte(i + 4)};
        found.push_back(c);
        i += 6;
        if (c.index == 24) {
            while (byte(i) == 0xFF) {
                ++i;
            }
            EXPECT_EQ(byte(i), 0xFE) << "write token";
            i += 1 + 512 + 2;
        }
    }
    return found;
}

std::vector<uint8_t> make_card() {
    testsupport::ScratchDir dir;
    testsupport::VolumeSpec shape;
    shape.fat = 16;
    shape.size_kib = 4096;
    testsupport::Volume volume(dir.file("card.img"), shape);
    volume.put("/A.TXT", testsupport::pattern(3000, 1));
    volume.mkdir("/DIR");
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back({"F" + std::to_string(i) + ".DAT", testsupport::pattern(10, uint32_t(i))});
    }
    volume.put_many("/DIR", files);
    volume.put("/SAVE.BAS", std::vector<uint8_t>(1024, ' '));
    return volume.bytes();
}

std::vector<sim::Call> session() {
    std::vector<sim::Call> calls = {
        {MODE_SET_CS, {CS_PIN, 0, 0, 0}},    {MODE_OPEN, sim::counted("A.TXT")},
        {MODE_READ, {}, 1000, 100},          {MODE_WRITE, sim::counted("0123456789"), 5, 10},
        {MODE_OPENDIR, sim::counted("DIR")},
    };
    for (int i = 0; i < 4; ++i) {
        calls.push_back({MODE_READDIR, {}});
    }
    calls.push_back({MODE_SAVE, sim::counted("SAVE.BAS")});
    return calls;
}

class SigrokDecodes : public testing::TestWithParam<sim::CardType> {};

TEST_P(SigrokDecodes, EveryCommandOfASessionAsTheCardLoggedIt) {
    const std::vector<uint8_t> card_bytes = make_card();
    sim::NativeCpu native;
    emu::EmuCpu chip(emu::EmuCpu::read_image(SDCARD_IMAGE_PATH), 0x9D008000);
    for (sim::Cpu* cpu : {static_cast<sim::Cpu*>(&native), static_cast<sim::Cpu*>(&chip)}) {
        SCOPED_TRACE(cpu->name());
        sim::DiskImage image = sim::DiskImage::from_bytes(card_bytes);
        sim::SdCardConfig config;
        config.type = GetParam();
        sim::SdCard card(image, config);
        sim::Board board;
        board.attach(&card, CS_PIN);
        board.set_program({"10 PRINT \"SAVED\"", "20 END"});
        testsupport::ScratchDir dir;
        const std::string vcd = dir.file("bus.vcd").string();
        {
            sim::VcdTrace trace(vcd);
            for (const auto& call : session()) {
                sim::invoke(board, *cpu, call);
            }
            trace.add(board);
            trace.finish(board.now_ps());
        }
        ASSERT_EQ(board.console(), "");
        ASSERT_TRUE(card.violations().empty());
        const std::vector<Command> logged = card_log(card);
        ASSERT_FALSE(image.write_log().empty()) << "the session wrote";

        const bool mmc = GetParam() == sim::CardType::Mmc;
        const Decoded decoded = sigrok(vcd, !mmc);
        EXPECT_EQ(framed_commands(decoded.mosi), logged);
        if (mmc) {
            continue;
        }
        ASSERT_GE(decoded.annotated.size(), sdcard_spi_follows(logged));
        ASSERT_LE(decoded.annotated.size(), logged.size());
        EXPECT_EQ(decoded.annotated,
                  std::vector<Command>(logged.begin(), logged.begin() + decoded.annotated.size()));
    }
}

std::string kind_name(const testing::TestParamInfo<sim::CardType>& info) {
    switch (info.param) {
    case sim::CardType::Mmc: return "Mmc";
    case sim::CardType::Sd1: return "Sd1";
    case sim::CardType::Sd2Byte: return "Sd2Byte";
    case sim::CardType::Sd2Block: return "Sd2Block";
    }
    return "";
}

INSTANTIATE_TEST_SUITE_P(CardKinds, SigrokDecodes,
                         testing::Values(sim::CardType::Mmc, sim::CardType::Sd1, sim::CardType::Sd2Byte,
                                         sim::CardType::Sd2Block),
                         kind_name);

} // namespace
