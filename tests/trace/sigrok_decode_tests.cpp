// Traces of the card bus decoded by sigrok's spi decoder and this project's
// sdcard_session decoder (tools/sigrok), an outside reading of the protocol:
// what they find over a whole session must be the card model's own log
// (every command and argument, every R1, R3 and R7, every block read,
// every data response and busy time), on each kind of card and on both
// back-ends, and the faults a card reports must show as such.
#include <gtest/gtest.h>

#include <deque>
#include <regex>
#include <sstream>

#include "card_pin.h"
#include "card_rig.h"
#include "emu_cpu.h"
#include "native_cpu.h"
#include "sd_card.h"
#include "sd_crc.h"
#include "sdtypes.h"
#include "vcd_trace.h"
#include "volume.h"

namespace {

struct Command {
    bool app;
    uint32_t index;
    uint32_t arg;
    bool operator==(const Command&) const = default;
};

// What the decoder made of a dump, and what the card's log says it should have.
struct Session {
    std::vector<Command> commands;
    std::vector<uint32_t> r1, trailing; // each R1; each R3 and R7 as one word
    std::vector<uint32_t> error_tokens, data_responses;
    size_t blocks_read = 0, blocks_written = 0, busy = 0;
    std::vector<std::string> warnings;
    bool operator==(const Session&) const = default;
};

void PrintTo(const Session& s, std::ostream* out) {
    *out << s.commands.size() << " commands, " << s.r1.size() << " R1, " << s.trailing.size() << " R3/R7, "
         << s.error_tokens.size() << " error tokens, " << s.data_responses.size() << " data responses, "
         << s.blocks_read << " blocks read, " << s.blocks_written << " written, " << s.busy << " busy, "
         << s.warnings.size() << " warnings" << (s.warnings.empty() ? "" : ": " + s.warnings.front())
         << "\n ";
    for (const Command& c : s.commands) {
        *out << " " << (c.app ? "ACMD" : "CMD") << c.index << "(" << c.arg << ")";
    }
}

Session logged(const sim::SdCard& card) {
    Session s;
    for (const sim::CardCommand& c : card.commands()) {
        s.commands.push_back({c.app, c.index, c.arg});
        if (c.response.empty()) {
            continue;
        }
        s.r1.push_back(c.response[0]);
        if (c.response.size() == 5) {
            s.trailing.push_back(uint32_t(c.response[1]) << 24 | c.response[2] << 16 | c.response[3] << 8 |
                                 c.response[4]);
        }
        s.blocks_written += !c.app && c.index == 24 && c.response[0] == 0;
    }
    const uint8_t token = card.config().faults.read_token;
    if (token == 0xFE) {
        s.blocks_read = card.reads().size();
    } else if (token != 0xFF) {
        s.error_tokens.assign(card.reads().size(), token);
    }
    for (const uint8_t r : card.data_responses()) {
        s.data_responses.push_back(r & 0x1F);
        s.busy +=
            (r & 0x1F) == 0x05 && card.config().busy_bytes > 0; // the card is busy only with a block it took
    }
    return s;
}

// Every edge falls on a SYSCLK cycle (25 ns), so sigrok may sample at 40 MHz
// instead of the dump's 1 GHz without losing one.
Session decode(const std::string& vcd) {
    const std::string text = testsupport::run(
        "SIGROKDECODE_DIR=" + testsupport::quote(SIGROK_DECODERS) + " sigrok-cli -I vcd:downsample=25 -i " +
        testsupport::quote(vcd) +
        " -P spi:clk=sck:mosi=mosi:miso=miso:cs=cs:cpol=1:cpha=1,sdcard_session -A sdcard_session");
    EXPECT_EQ(text.find("Traceback"), std::string::npos) << text;
    EXPECT_EQ(text.find("srd:"), std::string::npos) << text;
    static const std::regex command(R"(: (A?)CMD(\d+) \S+, argument 0x([0-9A-F]{8}))"),
        r1(R"(: R1 0x([0-9A-F]{2}):)"), trailing(R"(: R[37] (?:OCR )?0x([0-9A-F]{8}):)"),
        error_token(R"(: Error token 0x([0-9A-F]{2}):)"), response(R"(: Data response 0x([0-9A-F]{2}):)"),
        block(R"(: Data block: 512 bytes (read|written))"), busy(R"(: Busy: \d+ bytes?)"),
        warning(R"(: Warning: (.*))");
    Session d;
    std::istringstream lines(text);
    std::smatch m;
    const auto hex = [&](int group) { return static_cast<uint32_t>(std::stoul(m[group], nullptr, 16)); };
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_search(line, m, command)) {
            d.commands.push_back({m[1] == "A", static_cast<uint32_t>(std::stoul(m[2])), hex(3)});
        } else if (std::regex_search(line, m, r1)) {
            d.r1.push_back(hex(1));
        } else if (std::regex_search(line, m, trailing)) {
            d.trailing.push_back(hex(1));
        } else if (std::regex_search(line, m, error_token)) {
            d.error_tokens.push_back(hex(1));
        } else if (std::regex_search(line, m, response)) {
            d.data_responses.push_back(hex(1));
        } else if (std::regex_search(line, m, block)) {
            ++(m[1] == "read" ? d.blocks_read : d.blocks_written);
        } else if (std::regex_search(line, m, busy)) {
            ++d.busy;
        } else if (std::regex_search(line, m, warning)) {
            d.warnings.push_back(m[1]);
        }
    }
    return d;
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

// Mount, reads, a read-modify-write, a listing and a save: every kind of transaction.
std::vector<sim::Call> session() {
    std::vector<sim::Call> calls = {
        {MODE_SET_CS, {testsupport::CARD_CS_PIN, 0, 0, 0}},
        {MODE_OPEN, sim::counted("A.TXT")},
        {MODE_READ, {}, 1000, 100},
        {MODE_WRITE, sim::counted("0123456789"), 5, 10},
        {MODE_OPENDIR, sim::counted("DIR")},
    };
    for (int i = 0; i < 4; ++i) {
        calls.push_back({MODE_READDIR, {}});
    }
    calls.push_back({MODE_SAVE, sim::counted("SAVE.BAS")});
    return calls;
}

// Runs the session on a card of this kind and compares the decoder's reading with the card's log.
void expect_decoded_as_logged(sim::Cpu& cpu, const sim::SdCardConfig& config, bool clean = true) {
    SCOPED_TRACE(cpu.name());
    sim::DiskImage image = sim::DiskImage::from_bytes(make_card());
    sim::SdCard card(image, config);
    sim::Board board;
    board.attach(&card, testsupport::CARD_CS_PIN);
    board.set_program({"10 PRINT \"SAVED\"", "20 END"});
    testsupport::ScratchDir dir;
    const std::string vcd = dir.file("bus.vcd").string();
    {
        sim::VcdTrace trace(vcd);
        for (const auto& call : session()) {
            sim::invoke(board, cpu, call);
        }
        trace.add(board);
        trace.finish(board.now_ps());
    }
    ASSERT_TRUE(card.violations().empty());
    if (clean) {
        ASSERT_EQ(board.console(), "");
        ASSERT_FALSE(image.write_log().empty()) << "the session wrote";
    }
    EXPECT_EQ(decode(vcd), logged(card));
}

class SigrokDecodes : public testing::TestWithParam<sim::CardType> {};

TEST_P(SigrokDecodes, AWholeSessionAsTheCardLoggedIt) {
    sim::NativeCpu native;
    emu::EmuCpu chip(emu::EmuCpu::read_image(SDCARD_IMAGE_PATH), 0x9D008000);
    sim::SdCardConfig config;
    config.type = GetParam();
    for (sim::Cpu* cpu : {static_cast<sim::Cpu*>(&native), static_cast<sim::Cpu*>(&chip)}) {
        expect_decoded_as_logged(*cpu, config);
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

// An error token instead of a block, a write the card refuses, a long busy.
TEST(SigrokDecodesFaults, ErrorTokensDataResponsesAndBusyAsTheCardSentThem) {
    sim::NativeCpu native;
    sim::SdCardConfig config;
    config.faults.read_token = 0x08; // out of range
    expect_decoded_as_logged(native, config, false);
    config = {};
    config.faults.data_response = 0x0B; // CRC error
    config.busy_bytes = 300;
    config.response_delay = 8;
    expect_decoded_as_logged(native, config, false);
}

// A scripted card: the answers of a card with CRC checking on, byte for byte as listed.
struct ScriptedCard : sim::BusDevice {
    std::deque<uint8_t> answers;
    uint8_t exchange(uint8_t, bool selected, uint64_t) override {
        if (!selected || answers.empty()) {
            return 0xFF;
        }
        const uint8_t b = answers.front();
        answers.pop_front();
        return b;
    }
};

TEST(SigrokDecodesFaults, CrcCheckingOnAndACommandCrcError) {
    std::vector<std::pair<uint8_t, uint8_t>> bus; // host byte, card byte
    const auto command = [&](uint8_t index, uint32_t arg, bool good_crc, uint8_t r1) {
        std::vector<uint8_t> frame = {uint8_t(0x40 | index), uint8_t(arg >> 24), uint8_t(arg >> 16),
                                      uint8_t(arg >> 8), uint8_t(arg)};
        frame.push_back(good_crc ? sim::sd_frame_crc_byte(frame.data()) : 0x01);
        for (uint8_t b : frame) {
            bus.push_back({b, 0xFF});
        }
        bus.push_back({0xFF, 0xFF});
        bus.push_back({0xFF, r1});
    };
    command(59, 1, true, 0x00);
    command(17, 0x800, false, 0x08);
    command(17, 0x800, true, 0x00);
    std::vector<uint8_t> block = testsupport::pattern(512, 7);
    bus.push_back({0xFF, 0xFF});
    bus.push_back({0xFF, 0xFE});
    const uint16_t crc = sim::sd_crc16(block.data(), block.size());
    block.push_back(uint8_t(crc >> 8));
    block.push_back(uint8_t(crc));
    for (uint8_t b : block) {
        bus.push_back({0xFF, b});
    }

    ScriptedCard card;
    sim::Board board;
    testsupport::wire_card(board, &card, testsupport::CARD_CS_PIN);
    testsupport::ScratchDir dir;
    const std::string vcd = dir.file("crc.vcd").string();
    {
        sim::VcdTrace trace(vcd);
        board.host_pin_write(testsupport::CARD_CS_PIN, PIN_DRIVE_LOW);
        for (const auto& [out, in] : bus) {
            card.answers.push_back(in);
            board.shift_byte(out, board.now_ps());
            board.advance_to(board.now_ps() + board.byte_ps(board.spi2brg()));
        }
        board.host_pin_write(testsupport::CARD_CS_PIN, PIN_DRIVE_HIGH);
        trace.add(board);
        trace.finish(board.now_ps());
    }
    Session expected;
    expected.commands = {{false, 59, 1}, {false, 17, 0x800}, {false, 17, 0x800}};
    expected.r1 = {0x00, 0x08, 0x00};
    expected.blocks_read = 1;
    expected.warnings = {"CMD17 CRC7 0x00, should be 0x" + [&] {
        const uint8_t frame[5] = {0x51, 0, 0, 0x08, 0};
        char text[3];
        std::snprintf(text, sizeof text, "%02X", sim::sd_frame_crc_byte(frame) >> 1);
        return std::string(text);
    }()};
    EXPECT_EQ(decode(vcd), expected);
}

} // namespace
