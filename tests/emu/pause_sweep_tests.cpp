// The chip image's block loops under a pause of the CPU placed at every
// instruction of a block transfer: a 512-byte read and a 512-byte write at a
// sector boundary of an open file, each paused for longer than 16 bytes take
// on the bus, must give the bytes, card and console of the run without a
// pause, and must return. Shards split the instructions between processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "card_pin.h"
#include "chip_images.h"
#include "emu_cpu.h"
#include "sd_card.h"
#include "sdtypes.h"
#include "sfr.h"
#include "volume.h"

namespace {

constexpr int SHARDS = 4;
constexpr int32_t POSITION = 512;
constexpr uint32_t BLOCK = 512;
constexpr uint64_t PAUSE_PS = 50'000'000; // 50 us: 41 bytes on the bus at SPI2BRG 2
constexpr int FAILURES_SHOWN = 5;

struct Outcome {
    std::vector<uint8_t> bytes; // read, or the written sector afterwards
    std::vector<uint32_t> written;
    std::string console;
    bool operator==(const Outcome&) const = default;
};

class SweepRig {
  public:
    explicit SweepRig(int32_t mode)
        : volume_(dir_.file("card.img"), {}), mode_(mode), file_(testsupport::pattern(4 * BLOCK, 3)),
          original_(fill()), image_(sim::DiskImage::from_bytes(original_)), card_(image_),
          cpu_(emutest::module_image(), emutest::PLACE_LOW) {
        board_.attach(&card_, testsupport::CARD_CS_PIN);
        board_.set_chip_select_option(testsupport::CARD_CS_PIN);
        cpu_.record_sfr_accesses(true);
        mount();
    }

    void mount() { sim::invoke(board_, cpu_, {MODE_OPEN, sim::counted("A.BIN")}); }

    std::vector<uint8_t> written_data() const { return testsupport::pattern(BLOCK, 11); }

    // One call; throws emu::EmuFault when the emulator stops it.
    Outcome run() {
        board_.clear_logs();
        card_.clear_logs();
        if (written_) {
            image_.write_sector(*written_, before_);
        }
        image_.clear_write_log();
        sim::Call call{mode_, {}, POSITION, static_cast<int32_t>(BLOCK)};
        if (mode_ == MODE_WRITE) {
            call.p1 = written_data();
        }
        const sim::Returned r = sim::invoke(board_, cpu_, call);
        Outcome out{{}, image_.write_log(), board_.console()};
        if (mode_ == MODE_READ) {
            out.bytes.assign(r.p1.begin(), r.p1.begin() + std::max(r.p4, 0));
        } else if (!out.written.empty()) {
            if (!written_) {
                written_ = out.written.front();
                const auto at = original_.begin() + static_cast<std::ptrdiff_t>(*written_ * BLOCK);
                before_.assign(at, at + BLOCK);
            }
            out.bytes = image_.read_sector(out.written.front());
        }
        return out;
    }

    // The instructions of the last call from the one that starts the data
    // block's first byte to the one that takes its last CRC byte.
    std::pair<uint64_t, uint64_t> block_instructions() const {
        std::vector<uint8_t> bus;
        for (const sim::BusByte& b : board_.bus()) {
            bus.push_back(mode_ == MODE_READ ? b.in : b.out);
        }
        const std::vector<uint8_t> block = expected();
        const size_t first_byte = static_cast<size_t>(
            std::search(bus.begin(), bus.end(), block.begin(), block.end()) - bus.begin());
        const size_t last_byte = first_byte + BLOCK + 1;
        // Bus byte j is the j-th byte written to SPI2BUF, and the j-th read of
        // SPI2BUF from the first write on takes it.
        uint64_t first = 0, last = 0;
        size_t stores = 0, loads = 0;
        for (const emu::SfrAccess& a : cpu_.sfr_accesses()) {
            if (a.address == SPI2BUF && a.store && stores++ == first_byte) {
                first = a.instruction;
            } else if (a.address == SPI2BUF && !a.store && stores > 0 && loads++ == last_byte) {
                last = a.instruction;
            }
        }
        return {first, last};
    }

    // What a read gives, or what a write leaves in its sector.
    std::vector<uint8_t> expected() const {
        return mode_ == MODE_READ
                   ? std::vector<uint8_t>(file_.begin() + POSITION, file_.begin() + POSITION + BLOCK)
                   : written_data();
    }

    emu::EmuCpu& cpu() { return cpu_; }

  private:
    std::vector<uint8_t> fill() {
        volume_.put("/A.BIN", file_);
        return volume_.bytes();
    }

    testsupport::ScratchDir dir_;
    testsupport::Volume volume_;
    int32_t mode_;
    std::vector<uint8_t> file_;
    std::vector<uint8_t> original_;
    sim::DiskImage image_;
    sim::SdCard card_;
    sim::Board board_;
    emu::EmuCpu cpu_;
    std::optional<uint32_t> written_;
    std::vector<uint8_t> before_;
};

struct Shard {
    int32_t mode;
    int index;
};

void PrintTo(const Shard& s, std::ostream* out) {
    *out << (s.mode == MODE_READ ? "read" : "write") << " shard " << s.index;
}

class PauseSweep : public testing::TestWithParam<Shard> {};

TEST_P(PauseSweep, EveryInstructionOfTheBlockGivesTheSameResultAndReturns) {
    SweepRig rig(GetParam().mode);
    // The first call after the open learns where the file lies; the calls
    // after it repeat the same instructions, so the second is the reference.
    rig.run();
    const Outcome reference = rig.run();
    const uint64_t length = rig.cpu().last_call().instructions;
    ASSERT_EQ(rig.run(), reference);
    ASSERT_EQ(rig.cpu().last_call().instructions, length) << "the call does not repeat itself";
    ASSERT_EQ(reference.bytes, rig.expected());
    ASSERT_EQ(reference.written.size(), GetParam().mode == MODE_WRITE ? 1u : 0u);
    ASSERT_EQ(reference.console, "");
    const auto [first, last] = rig.block_instructions();
    ASSERT_LT(first, last);

    int failures = 0;
    uint64_t runs = 0;
    for (uint64_t at = first + static_cast<uint64_t>(GetParam().index);
         at <= last && failures < FAILURES_SHOWN; at += SHARDS, ++runs) {
        rig.cpu().pause_at(at, PAUSE_PS);
        try {
            const Outcome paused = rig.run();
            if (paused != reference) {
                ADD_FAILURE() << "a pause at instruction " << at
                              << " changed the result; console: " << paused.console;
                ++failures;
                rig.mount();
            } else if (rig.cpu().last_call().paused_ps != PAUSE_PS) {
                ADD_FAILURE() << "the pause at instruction " << at
                              << " did not fall in the call: " << rig.cpu().last_call().paused_ps;
                ++failures;
            }
        } catch (const emu::EmuFault& e) {
            ADD_FAILURE() << "a pause at instruction " << at << " stopped the call: " << e.what();
            ++failures;
            rig.mount();
        }
    }
    std::printf("instructions %llu to %llu of the call, %llu paused runs in this shard\n",
                static_cast<unsigned long long>(first), static_cast<unsigned long long>(last),
                static_cast<unsigned long long>(runs));
}

std::vector<Shard> shards() {
    std::vector<Shard> all;
    for (int32_t mode : {MODE_READ, MODE_WRITE}) {
        for (int i = 0; i < SHARDS; ++i) {
            all.push_back({mode, i});
        }
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(Blocks, PauseSweep, testing::ValuesIn(shards()), [](const auto& info) {
    return std::string(info.param.mode == MODE_READ ? "Read" : "Write") + "Shard" +
           std::to_string(info.param.index);
});

} // namespace
