// The chip image in the emulator against the native build: the same session
// of commands on two fresh boards with the same card must leave the same
// console, the same bus bytes, the same card and the same host memory, also
// with the host's interrupts holding the chip's CPU.
#include <gtest/gtest.h>

#include <memory>

#include "card_pin.h"
#include "chip_images.h"
#include "emu_cpu.h"
#include "native_cpu.h"
#include "ram_layout.h"
#include "sd_card.h"
#include "sdtypes.h"
#include "state_offsets.h"
#include "volume.h"

namespace {

struct Trace {
    std::vector<sim::Returned> results;
    std::string console;
    std::vector<sim::BusByte> bus;
    std::vector<sim::PinCall> pins;
    std::vector<std::string> loaded;
    std::vector<uint32_t> written_sectors;
    std::vector<uint8_t> card; // contents of the written sectors at the end
    std::vector<uint8_t> ram;
    uint64_t paused_ps = 0; // the chip's CPU held by interrupts
};

std::vector<uint8_t> raw(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<sim::Call> session() {
    std::vector<sim::Call> calls = {
        {MODE_SET_CS, {testsupport::CARD_CS_PIN, 0, 0, 0}},
        {MODE_OPEN, sim::counted("A.TXT")},
        {MODE_READ, {}, 512, 512},                       // a whole sector at a boundary
        {MODE_READ, {}, 1000, 100},                      // across a sector boundary
        {MODE_WRITE, sim::counted("0123456789"), 5, 10}, // read-modify-write of a sector
        {MODE_WRITE, std::vector<uint8_t>(300, 'w'), -1, 300},
        {MODE_READ, {}, 0, 40},
        {MODE_OPENDIR, sim::counted("DIR")},
    };
    for (int i = 0; i < 18; ++i) {
        calls.push_back({MODE_READDIR, {}});
    }
    calls.push_back({MODE_LOAD, sim::counted("PROG.BAS")});
    calls.push_back({MODE_SAVE, sim::counted("SAVE.BAS")});
    calls.push_back({MODE_OPEN, sim::counted("NOPE.TXT")});
    calls.push_back({MODE_READ, {}, 0, 10});
    calls.push_back({9, sim::counted("X")});
    return calls;
}

std::vector<uint8_t> make_card(const testsupport::VolumeSpec& shape) {
    testsupport::ScratchDir dir;
    testsupport::Volume volume(dir.file("card.img"), shape);
    volume.put("/A.TXT", testsupport::pattern(3000, 1));
    volume.mkdir("/DIR");
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (int i = 0; i < 16; ++i) {
        files.push_back(
            {"F" + std::to_string(i) + ".DAT", testsupport::pattern(10u * uint32_t(i), uint32_t(i))});
    }
    volume.put_many("/DIR", files);
    volume.put("/PROG.BAS", raw(std::string("10 PRINT 1\r\n20 END\r\n") + '\0' + '\0'));
    volume.put("/SAVE.BAS", std::vector<uint8_t>(1024, ' '));
    return volume.bytes();
}

Trace run(sim::Cpu& cpu, const std::vector<uint8_t>& card_bytes, sim::CardType type) {
    sim::DiskImage image = sim::DiskImage::from_bytes(card_bytes);
    sim::SdCardConfig config;
    config.type = type;
    sim::SdCard card(image, config);
    sim::Board board;
    board.attach(&card, testsupport::CARD_CS_PIN);
    board.set_program({"10 REM SAVED", "20 PRINT \"HELLO\"", "30 END"});
    Trace trace;
    for (const auto& call : session()) {
        trace.results.push_back(sim::invoke(board, cpu, call));
        if (const auto* chip = dynamic_cast<const emu::EmuCpu*>(&cpu)) {
            trace.paused_ps += chip->last_call().paused_ps;
        }
    }
    trace.console = board.console();
    trace.bus = board.bus();
    trace.pins = board.pin_calls();
    trace.loaded = board.loaded_programs();
    // Both runs start from the same bytes, so the written sectors tell the whole card.
    for (uint32_t s : image.write_log()) {
        trace.written_sectors.push_back(s);
        const auto sector = image.read_sector(s);
        trace.card.insert(trace.card.end(), sector.begin(), sector.end());
    }
    // The stack is not the host's memory.
    trace.ram = board.ram_bytes(0, sim::RAM_STACK_LIMIT);
    return trace;
}

void expect_same(const Trace& native, const Trace& chip, const std::string& who) {
    ASSERT_EQ(native.results.size(), chip.results.size());
    for (size_t i = 0; i < native.results.size(); ++i) {
        const auto& n = native.results[i];
        const auto& c = chip.results[i];
        EXPECT_TRUE(n.mode == c.mode && n.p2 == c.p2 && n.p3 == c.p3 && n.p4 == c.p4 && n.p1 == c.p1)
            << who << ": results of call " << i << " differ";
    }
    EXPECT_EQ(native.console, chip.console) << who;
    EXPECT_EQ(native.pins, chip.pins) << who;
    EXPECT_EQ(native.loaded, chip.loaded) << who;
    ASSERT_EQ(native.bus.size(), chip.bus.size()) << who;
    // The chip takes time between bytes that the native build does not, so
    // only the order of bytes is common; and no byte starts before the last ended.
    for (size_t i = 0; i < native.bus.size(); ++i) {
        const auto& n = native.bus[i];
        const auto& c = chip.bus[i];
        ASSERT_TRUE(n.cs_high == c.cs_high && n.out == c.out && n.in == c.in && n.brg == c.brg)
            << who << ": bus byte " << i << " differs";
        if (i > 0) {
            const auto& last = chip.bus[i - 1];
            ASSERT_GE(c.time_ps, last.time_ps + 16u * (last.brg + 1) * 25'000u) << who << ": bus byte " << i;
        }
    }
    EXPECT_EQ(native.written_sectors, chip.written_sectors) << who;
    EXPECT_TRUE(native.card == chip.card) << who << ": card contents differ";
    EXPECT_TRUE(native.ram == chip.ram) << who << ": host memory differs";
}

struct CardCase {
    const char* name;
    testsupport::VolumeSpec shape;
    sim::CardType type;
};

void PrintTo(const CardCase& c, std::ostream* out) { *out << c.name; }

class SameAsNative : public testing::TestWithParam<CardCase> {};

TEST_P(SameAsNative, WholeSessionLeavesTheSameTraces) {
    const auto card = make_card(GetParam().shape);
    sim::NativeCpu native_cpu;
    const Trace native = run(native_cpu, card, GetParam().type);
    // The session did real work: a full read, a listing, a load.
    EXPECT_EQ(native.results[2].p4, 512);
    EXPECT_EQ(native.results[3].p4, 100);
    ASSERT_EQ(native.loaded.size(), 1u);
    EXPECT_FALSE(native.written_sectors.empty());
    EXPECT_EQ(native.console, "No File\r\nNot Opened\r\nNot Opened\r\n");

    for (uint32_t place : {emutest::PLACE_LOW, emutest::PLACE_HIGH}) {
        emu::EmuCpu chip_cpu(emutest::module_image(), place);
        expect_same(native, run(chip_cpu, card, GetParam().type), chip_cpu.name());
    }
}

testsupport::VolumeSpec volume(int fat, uint32_t size_kib, uint32_t partition_start) {
    testsupport::VolumeSpec shape;
    shape.fat = fat;
    shape.size_kib = size_kib;
    shape.partition_start = partition_start;
    shape.partition_type = fat == 32 ? 0x0C : 0x06;
    return shape;
}

INSTANTIATE_TEST_SUITE_P(
    Cards, SameAsNative,
    testing::Values(CardCase{"Fat16HighCapacity", volume(16, 4096, 0), sim::CardType::Sd2Block},
                    CardCase{"Fat32PartitionedVersion1", volume(32, 34 * 1024, 63), sim::CardType::Sd1},
                    CardCase{"Fat12Mmc", volume(12, 1024, 0), sim::CardType::Mmc}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace emu {
void PrintTo(const InterruptLoad& load, std::ostream* out) {
    *out << load.length_us << " us every " << load.period_us << " us";
}
} // namespace emu

namespace {

// From a 1 us pause every 10 us to 10 ms every 20 ms: a block loop that could
// lose a byte would lose it, and every wait is stretched.
class SameUnderInterrupts : public testing::TestWithParam<emu::InterruptLoad> {};

TEST_P(SameUnderInterrupts, WholeSessionLeavesTheSameTraces) {
    static const std::vector<uint8_t> card = make_card(volume(16, 4096, 0));
    sim::NativeCpu native_cpu;
    const Trace native = run(native_cpu, card, sim::CardType::Sd2Block);
    emu::EmuCpu chip_cpu(emutest::module_image(), emutest::PLACE_HIGH);
    chip_cpu.set_interrupts({GetParam()});
    const Trace chip = run(chip_cpu, card, sim::CardType::Sd2Block);
    expect_same(native, chip, chip_cpu.name());
    EXPECT_GT(chip.paused_ps, 0u);
}

INSTANTIATE_TEST_SUITE_P(Loads, SameUnderInterrupts,
                         testing::Values(emu::InterruptLoad{10, 1}, emu::InterruptLoad{50, 5},
                                         emu::InterruptLoad{1000, 100}, emu::InterruptLoad{20000, 10000}),
                         [](const auto& info) {
                             return std::to_string(info.param.length_us) + "usEvery" +
                                    std::to_string(info.param.period_us) + "us";
                         });

} // namespace
