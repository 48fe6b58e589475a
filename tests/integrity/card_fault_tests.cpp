// Every fault the card model offers at every command that reaches the card:
// the call returns within the module's bounded waits, prints what the file
// layer's results give, closes a file it left in doubt, and writes nowhere
// but where the command writes without a fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "integrity_rig.h"
#include "sdtypes.h"

namespace {

using integrity::Rig;
using testsupport::pattern;

// The first card operation a fault spoils.
enum class Spoils { StartUp, Read, Write, Everything };

struct Fault {
    const char* name;
    Spoils spoils;
    std::function<void(sim::SdCardFaults&)> set;
};

const std::vector<Fault>& faults() {
    static const std::vector<Fault> all = {
        {"no card", Spoils::Everything, {}},
        {"never ready", Spoils::StartUp, [](sim::SdCardFaults& f) { f.never_ready = true; }},
        {"refused CMD55", Spoils::StartUp, [](sim::SdCardFaults& f) { f.refuse_cmd55 = true; }},
        {"bad R7", Spoils::StartUp, [](sim::SdCardFaults& f) { f.corrupt_r7_echo = true; }},
        {"voltage refused", Spoils::StartUp, [](sim::SdCardFaults& f) { f.refuse_voltage = true; }},
        {"error token", Spoils::Read, [](sim::SdCardFaults& f) { f.read_token = 0x01; }},
        {"no token", Spoils::Read, [](sim::SdCardFaults& f) { f.read_token = 0xFF; }},
        {"CRC error", Spoils::Write, [](sim::SdCardFaults& f) { f.data_response = 0x0B; }},
        {"write error", Spoils::Write, [](sim::SdCardFaults& f) { f.data_response = 0x0D; }},
        {"busy forever", Spoils::Write, [](sim::SdCardFaults& f) { f.busy_forever = true; }},
        {"power cut", Spoils::Everything, {}},
    };
    return all;
}

constexpr int SAVED_LINES = 3; // one sector: the save's only card write is its last call
const std::string NR = "Not Ready\r\n", NE = "Not Enabled\r\n", NO = "Not Opened\r\n", DE = "Disk Error\r\n";

std::string times(const std::string& text, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += text;
    }
    return out;
}

// What the file layer's results print when the command's first spoiled card
// operation is of the given kind: a failed start-up is "Not Ready", a failed
// read "Disk Error", and every later step on the unmounted volume or the
// closed file reports itself.
std::string expected(int mode, Spoils first) {
    const bool setup = mode == MODE_OPEN || mode == MODE_OPENDIR || mode == MODE_LOAD || mode == MODE_SAVE;
    if (first == Spoils::Everything) {
        first = setup ? Spoils::StartUp : Spoils::Read;
    }
    if (first == Spoils::StartUp && !setup) {
        return ""; // the card is already running
    }
    if (first == Spoils::Write && mode != MODE_WRITE && mode != MODE_SAVE) {
        return "";
    }
    const std::string mount = first == Spoils::StartUp ? NR : DE;
    switch (mode) {
    case MODE_OPEN:
    case MODE_OPENDIR: return mount + NE;
    case MODE_READ:
    case MODE_READDIR: return DE;
    case MODE_WRITE: return first == Spoils::Write ? DE + NO : DE + NO + NO + NO;
    case MODE_LOAD: return mount + NE + NO + NO;
    case MODE_SAVE: return first == Spoils::Write ? DE : mount + NE + NO + times(NO, SAVED_LINES) + NO + NO;
    }
    return "?";
}

// The longest a call can take on the chip, in picoseconds: 10,000 start-up
// attempts of two frames (at most 18 bytes each: two select bytes, six frame
// bytes, ten response bytes) at the slow rate with a 100 us delay each, one
// failed wait of 2,000 busy bytes with 1 ms delays or 40,000 token polls, and
// 20,000 bytes of ordinary traffic, at 40 MHz with 16 instructions between
// bytes on top of the bus time.
constexpr uint64_t PS_PER_CLOCK = 25'000;
constexpr uint64_t SLOW_BYTE = (16 * 60 + 16) * PS_PER_CLOCK;
constexpr uint64_t FAST_BYTE = (16 * 3 + 16) * PS_PER_CLOCK;
constexpr uint64_t WORST_CALL_PS =
    10'000 * (36 * SLOW_BYTE + 100'000'000) +
    std::max<uint64_t>(2'000 * (FAST_BYTE + 1'000'000'000), 40'000 * FAST_BYTE) + 20'000 * FAST_BYTE;

struct Command {
    int mode;
    std::function<void(Rig&)> before;
    std::function<void(Rig&)> call;
};

std::vector<Command> commands() {
    return {
        {MODE_OPEN, [](Rig&) {}, [](Rig& r) { r.open("TARGET.BIN"); }},
        {MODE_READ, [](Rig& r) { r.open("TARGET.BIN"); }, [](Rig& r) { r.read_raw(0, 600); }},
        {MODE_WRITE, [](Rig& r) { r.open("TARGET.BIN"); }, [](Rig& r) { r.write(700, pattern(100, 5)); }},
        {MODE_OPENDIR, [](Rig&) {}, [](Rig& r) { r.call(MODE_OPENDIR, sim::counted("")); }},
        {MODE_READDIR, [](Rig& r) { r.call(MODE_OPENDIR, sim::counted("")); },
         [](Rig& r) { r.call(MODE_READDIR, std::vector<uint8_t>(32, 0)); }},
        {MODE_LOAD, [](Rig&) {}, [](Rig& r) { r.call(MODE_LOAD, sim::counted("PROG.BAS")); }},
        {MODE_SAVE, [](Rig& r) { r.board.set_program(integrity::program_lines(SAVED_LINES)); },
         [](Rig& r) { r.call(MODE_SAVE, sim::counted("PROG.BAS")); }},
    };
}

TEST(CardFaults, EveryFaultAtEveryCommand) {
    testsupport::ScratchDir dir;
    testsupport::Volume vol(dir.file("card.img"), integrity::volume_shape(16));
    const std::vector<uint8_t> target = pattern(8192, 1);
    vol.put("/TARGET.BIN", target);
    vol.put("/PROG.BAS", pattern(2048, 2));
    vol.put("/OTHER.BIN", pattern(3000, 3));
    const std::vector<uint8_t> base = vol.bytes();
    Rig rig(base);
    int pairs = 0;
    std::map<std::string, uint64_t> worst; // longest call per fault, in picoseconds

    for (const Command& cmd : commands()) {
        // Where the command writes when nothing goes wrong.
        rig.restore(base);
        rig.power_up();
        cmd.before(rig);
        cmd.call(rig);
        ASSERT_EQ(rig.board.console(), "") << cmd.mode;
        const std::set<uint32_t> allowed(rig.image.write_log().begin(), rig.image.write_log().end());

        for (const Fault& fault : faults()) {
            SCOPED_TRACE(std::string(fault.name) + " at command " + std::to_string(cmd.mode));
            rig.restore(base);
            rig.power_up();
            cmd.before(rig);
            ASSERT_EQ(rig.board.console(), "");
            if (fault.set) {
                fault.set(rig.card->config().faults);
            } else if (std::string(fault.name) == "power cut") {
                rig.card->config().faults.power_cut_after = rig.card->bytes_seen() + 1;
            } else {
                rig.remove_card();
            }
            const uint64_t from = rig.board.now_ps();
            cmd.call(rig);
            const uint64_t took = rig.board.now_ps() - from;
            const std::string want = expected(cmd.mode, fault.spoils);
            EXPECT_EQ(rig.board.console(), want);
            EXPECT_LE(took, WORST_CALL_PS);
            if (rig.card) {
                EXPECT_EQ(rig.card->fault_fired_at() != 0, !want.empty());
                for (const sim::CardViolation& v : rig.card->violations()) {
                    ADD_FAILURE() << sim::violation_name(v.kind) << ": " << v.detail;
                }
            }
            worst[fault.name] = std::max(worst[fault.name], took);

            // The fault clears: a file left in doubt is closed, a fresh open works.
            rig.power_up();
            if (!want.empty()) {
                rig.read_raw(-1, 300);
                EXPECT_EQ(rig.board.console(), NO);
            }
            rig.open("TARGET.BIN");
            EXPECT_EQ(rig.board.console(), "");
            const std::vector<uint8_t> now = rig.read_raw(0, 4096);
            EXPECT_TRUE(std::equal(now.begin(), now.end(), target.begin()) || cmd.mode == MODE_WRITE);
            for (uint32_t s : rig.image.write_log()) {
                EXPECT_TRUE(allowed.count(s)) << "sector " << s << " written";
            }
            ++pairs;
        }
    }
    for (const auto& [name, ps] : worst) {
        std::printf("[ figures  ] %-15s longest call %9.3f ms of bus and delays\n", name.c_str(),
                    static_cast<double>(ps) / 1e9);
    }
    std::printf("[ figures  ] %d fault/command pairs; bound on the chip %.3f s per call\n", pairs,
                static_cast<double>(WORST_CALL_PS) / 1e12);
}

} // namespace
