// The emulator on a probe image: the call as the host makes it, the load
// offset at several placements, and a clear stop for every way to crash.
#include <gtest/gtest.h>

#include "cfunctions.h"
#include "chip_images.h"
#include "emu_cpu.h"
#include "pause_schedule.h"
#include "sfr.h"

namespace {

using emutest::probe_image;

constexpr int32_t PROBE_MESSAGE = 0, PROBE_ARGUMENTS = 1, PROBE_FLASH_WRITE = 2, PROBE_RUNAWAY = 3,
                  PROBE_UNMAPPED = 4, PROBE_NULL = 5, PROBE_UNALIGNED = 6, PROBE_DEEP_STACK = 7,
                  PROBE_SPI = 8, PROBE_STATUS_USE = 9, PROBE_OLD_BLOCK_LOOP = 10;

std::string fault_in(sim::Board& board, emu::EmuCpu& cpu, const sim::Call& call) {
    try {
        sim::invoke(board, cpu, call);
    } catch (const emu::EmuFault& e) {
        return e.what();
    }
    return "";
}

std::string fault_of(emu::EmuCpu& cpu, const sim::Call& call) {
    sim::Board board;
    return fault_in(board, cpu, call);
}

TEST(Emulator, MessagesAreFoundWhereverTheImageIsPlaced) {
    const char* expected[] = {"Disk Error\r\n", "Not Ready\r\n",   "No File\r\n",
                              "Not Opened\r\n", "Not Enabled\r\n", "No File System\r\n"};
    for (uint32_t place : {emutest::PLACE_LOW, emutest::LINK_ADDRESS, emutest::PLACE_HIGH}) {
        emu::EmuCpu cpu(probe_image(), place);
        for (uint8_t code = 0; code <= 7; ++code) {
            sim::Board board;
            sim::invoke(board, cpu, {PROBE_MESSAGE, {code}});
            if (code == 0 || code == 7) {
                EXPECT_TRUE(board.prints().empty()) << cpu.name() << " code " << int(code);
            } else {
                ASSERT_EQ(board.prints().size(), 1u) << cpu.name();
                EXPECT_EQ(board.prints()[0], expected[code - 1]) << cpu.name();
            }
        }
    }
}

TEST(Emulator, MainGetsFourRegisterArgumentsAndTheFifthOnTheStack) {
    emu::EmuCpu cpu(probe_image(), emutest::PLACE_HIGH);
    sim::Board board;
    const sim::Returned r = sim::invoke(board, cpu, {PROBE_ARGUMENTS, {}, 40, 2, -1});
    EXPECT_EQ(r.p4, 42);
    EXPECT_EQ(r.p2, 40);
    EXPECT_GT(cpu.last_call().instructions, 0u);
    EXPECT_LT(cpu.last_call().instructions, 50u);
}

TEST(Emulator, StackHighWaterFollowsTheDeepestFrame) {
    emu::EmuCpu cpu(probe_image(), emutest::PLACE_LOW);
    sim::Board board;
    sim::invoke(board, cpu, {PROBE_DEEP_STACK, {}, 3});
    const uint32_t three = cpu.last_call().stack_bytes;
    EXPECT_GE(three, 4u * 1024);
    EXPECT_LT(three, 4u * 1024 + 256);
    sim::invoke(board, cpu, {PROBE_ARGUMENTS, {}, 1, 1});
    EXPECT_LT(cpu.last_call().stack_bytes, 64u);
    EXPECT_EQ(cpu.stack_peak(), three);
}

TEST(Emulator, EveryCrashStopsWithTheAddressAndTheRegisters) {
    constexpr uint64_t ONE_MS = 1'000'000'000;
    emu::EmuCpu cpu(probe_image(), emutest::PLACE_LOW, ONE_MS);
    const std::pair<sim::Call, std::string> crashes[] = {
        {{PROBE_FLASH_WRITE, {}}, "write to read-only (flash) 0x9D000000"},
        {{PROBE_RUNAWAY, {}}, "runaway: more than 0.001 s of chip time"},
        {{PROBE_UNMAPPED, {}}, "read of unmapped address 0x9D100000"},
        {{PROBE_NULL, {}, 0}, "read of 0x00000000, outside the chip's KSEG0/KSEG1 memory"},
        {{PROBE_UNALIGNED, {}}, "CPU exception"},
        {{PROBE_DEEP_STACK, {}, 8}, "the stack grew into the host's memory"},
    };
    for (const auto& [call, message] : crashes) {
        const std::string fault = fault_of(cpu, call);
        EXPECT_NE(fault.find(message), std::string::npos) << fault;
        EXPECT_NE(fault.find("pc 0x"), std::string::npos) << fault;
        EXPECT_NE(fault.find("ra   "), std::string::npos) << fault;
    }
    // The engine is still usable after a crash.
    sim::Board board;
    EXPECT_EQ(sim::invoke(board, cpu, {PROBE_ARGUMENTS, {}, 2, 3}).p4, 5);
}

// Answers each byte with the byte plus one, so every read tells which byte it belongs to.
class NextByte : public sim::BusDevice {
  public:
    uint8_t exchange(uint8_t out, bool, uint64_t) override { return static_cast<uint8_t>(out + 1); }
};

TEST(Emulator, Spi2KeepsTheChipsTimeAndBuffers) {
    emu::EmuCpu cpu(probe_image(), emutest::PLACE_LOW);
    sim::Board board;
    NextByte device;
    board.attach(&device, 7);
    board.set_sdi2r(4);
    board.set_rpb13r(4);
    board.set_pin_state(board.card_pins().data_out, PIN_CODE_CHIP_SELECT);
    const std::vector<uint8_t> seen = sim::invoke(board, cpu, {PROBE_SPI, {}}).p1;
    constexpr uint8_t RBF = 1u << 0, TBF = 1u << 1, ROV = 1u << 6;
    EXPECT_EQ(seen[0], 0x12);
    EXPECT_EQ(seen[1], 0x12) << "a read before SPIRBF rises gets the old byte";
    EXPECT_EQ(seen[2] & RBF, 0) << "still shifting";
    EXPECT_EQ(seen[3], 0x23);
    EXPECT_EQ(seen[4] & TBF, TBF) << "the second byte waits in the transmit buffer";
    EXPECT_EQ(seen[5] & (RBF | ROV), RBF | ROV) << "the unread byte overflowed";
    EXPECT_EQ(seen[6], 0x34) << "the byte received while the last was unread is lost";

    const auto& bus = board.bus();
    ASSERT_EQ(bus.size(), 4u);
    const uint64_t byte_ps = 48 * 25'000; // SPI2BRG 2 at a 40 MHz peripheral bus
    EXPECT_EQ(bus[3].time_ps, bus[2].time_ps + byte_ps) << "the waiting byte follows at once";
    EXPECT_GT(bus[1].time_ps, bus[0].time_ps + byte_ps);
    EXPECT_GE(cpu.last_call().time_ps, bus[3].time_ps + byte_ps - bus[0].time_ps);
}

// Each way the probe examines SPI2STAT right after loading it, the bits that
// way reads and whether they are valid in the buffer mode it runs.
TEST(Emulator, StatusBitsInvalidInTheBufferModeStopTheCall) {
    const std::pair<int32_t, const char*> uses[] = {
        {0, "bit(s) 7 (SRMT) at 0x"},       // andi 0x80
        {1, "bit(s) 28:24 (RXBUFELM)"},     // ext 24, 5
        {2, "bit(s) 20:16 (TXBUFELM)"},     // srl 16, andi 0x1F
        {3, "5 (SPIRBE), 7 (SRMT), 20:16"}, // sltiu on the whole word
        {4, nullptr},                       // andi 1: SPIRBF
        {5, nullptr},                       // sw of the whole word: a record, not a read of a bit
        {6, nullptr},                       // bltz: bit 31
        {7, nullptr},                       // andi 0x80 with the enhanced buffer
    };
    emu::EmuCpu cpu(probe_image(), emutest::PLACE_LOW);
    for (const auto& [use, fault] : uses) {
        const std::string got = fault_of(cpu, {PROBE_STATUS_USE, {}, use});
        if (fault == nullptr) {
            EXPECT_EQ(got, "") << "use " << use;
        } else {
            EXPECT_NE(got.find(fault), std::string::npos) << "use " << use << ": " << got;
            EXPECT_NE(got.find("which the datasheet calls invalid in standard buffer mode"),
                      std::string::npos)
                << got;
        }
    }
}

// Answers with a count of the bytes it has seen, so every byte received tells where it belongs.
class Counter : public sim::BusDevice {
  public:
    uint8_t exchange(uint8_t, bool, uint64_t) override { return static_cast<uint8_t>(n_++); }

  private:
    uint32_t n_ = 0;
};

// The block loop the module ran before the enhanced buffer: a pause of 3 us
// just after a byte is queued behind the one shifting lets both complete
// unread, the second is discarded, and the loop waits for a byte that never
// comes. The emulator says so at once.
TEST(Emulator, ThePauseThatLosesAByteInTheOldBlockLoopEndsInAHang) {
    uint64_t queued = 0; // the instruction after the write of block byte 257
    for (bool paused : {false, true}) {
        emu::EmuCpu cpu(probe_image(), emutest::PLACE_LOW);
        cpu.record_sfr_accesses(true);
        sim::Board board;
        Counter device;
        board.attach(&device, 7);
        board.set_sdi2r(4);
        board.set_rpb13r(4);
        board.set_pin_state(board.card_pins().data_out, PIN_CODE_CHIP_SELECT);
        if (paused) {
            cpu.pause_at(queued, 3'000'000);
            const std::string fault = fault_in(board, cpu, {PROBE_OLD_BLOCK_LOOP, {}});
            EXPECT_NE(fault.find("hang: polling SPI2STAT"), std::string::npos) << fault;
            EXPECT_NE(fault.find("SPIROV set"), std::string::npos) << fault;
            break;
        }
        const std::vector<uint8_t> block = sim::invoke(board, cpu, {PROBE_OLD_BLOCK_LOOP, {}}).p1;
        ASSERT_EQ(board.bus().size(), 514u);
        for (uint32_t n = 0; n < 514; ++n) {
            ASSERT_EQ(block[n], static_cast<uint8_t>(n)) << "byte " << n;
        }
        size_t writes = 0;
        for (const emu::SfrAccess& a : cpu.sfr_accesses()) {
            if (a.store && a.address == SPI2BUF && ++writes == 257) {
                queued = a.instruction + 1;
            }
        }
        ASSERT_GT(queued, 0u);
    }
}

// Interrupts that fall due together run one after the other; one that falls
// within a host delay does not lengthen it (the delay runs on the core timer)
// unless it runs on past the delay's end.
TEST(PauseSchedule, PendingPausesQueueAndDelaysAbsorbThem) {
    constexpr uint64_t US = 1'000'000;
    emu::PauseSchedule s;
    s.set_loads({{100, 10}, {100, 20}}, 0);
    EXPECT_EQ(s.catch_up(99 * US, 0), 0u);
    EXPECT_EQ(s.catch_up(100 * US, 0), 30 * US);
    EXPECT_EQ(s.next_due_ps(), 200 * US);
    EXPECT_EQ(s.absorb_delay(150 * US, 100 * US), 0u) << "both fall within 150 to 250 us";
    EXPECT_EQ(s.absorb_delay(290 * US, 15 * US), 25 * US) << "they run from 300 to 330 us";
    EXPECT_THROW(s.set_loads({{100, 50}, {3, 2}}, 0), std::invalid_argument);

    s.set_loads({}, 0);
    s.pause_at(7, 5 * US);
    EXPECT_EQ(s.catch_up(0, 7), 0u) << "armed only for the next call";
    s.begin_call();
    EXPECT_EQ(s.catch_up(0, 6), 0u);
    EXPECT_EQ(s.catch_up(0, 9), 5 * US);
    EXPECT_EQ(s.catch_up(0, 10), 0u) << "once";
}

TEST(Emulator, RefusesPlacementsOutsideTheFreeFlash) {
    EXPECT_THROW(emu::EmuCpu(probe_image(), 0x9D000000), emu::EmuFault); // over the host table
    EXPECT_THROW(emu::EmuCpu(probe_image(), 0x9D03FFF0), emu::EmuFault); // past the end
    EXPECT_THROW(emu::EmuCpu(probe_image(), 0x9D004002), emu::EmuFault); // not word aligned
}

} // namespace
