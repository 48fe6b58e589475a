// The chip image on an emulated M4K (Unicorn, MIPS32 little-endian) driving the
// same virtual board as the native build: the board's RAM is the chip's RAM,
// its registers are the SFR page and its host model answers the service table.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "chip_clock.h"
#include "cpu.h"
#include "timed_spi2.h"

struct uc_struct;

namespace emu {

// The image did something the chip would not survive: a fault, an access to
// unmapped memory or to flash, a runaway. The text says where, with registers.
class EmuFault : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct CallStats {
    uint64_t instructions = 0; // executed by the module, host services excluded
    uint32_t stack_bytes = 0;  // below the stack pointer main was called with
    uint64_t time_ps = 0;      // on the chip's clock, host delays included
};

class EmuCpu : public sim::Cpu {
  public:
    static constexpr uint64_t DEFAULT_BUDGET = 20'000'000;

    // Places the image at load_address in flash (word aligned, clear of the host table).
    EmuCpu(const std::vector<uint8_t>& image, uint32_t load_address, uint64_t budget = DEFAULT_BUDGET,
           ClockSettings clock = {});
    ~EmuCpu() override;
    EmuCpu(const EmuCpu&) = delete;
    EmuCpu& operator=(const EmuCpu&) = delete;

    static std::vector<uint8_t> read_image(const std::string& path);

    void call_main(sim::Board& board) override;
    std::string name() const override;

    uint32_t load_address() const { return load_address_; }
    const CallStats& last_call() const { return last_; }
    uint32_t stack_peak() const { return stack_peak_; } // over every call so far
    const ClockSettings& clock() const { return clock_; }
    // Points the host table's program-memory entry at another place in RAM,
    // for a stored program larger than the board's own program memory.
    void place_program_memory(uint32_t ram_offset);
    uint64_t now_ps() const; // the chip's clock between calls

    // Called from the engine's hooks.
    struct Hooks;

  private:
    void bind(sim::Board& board);
    void fault(const std::string& what);
    std::string register_dump();
    struct BlockInfo;
    void enter_block(uint32_t address, uint32_t size);
    const BlockInfo& block_info(uint32_t address, uint32_t size);
    uint32_t access_index(uint32_t address, bool store);
    void sync_board(uint32_t address, bool store);
    void skip_idle_polls();

    uc_struct* uc_ = nullptr;
    uint32_t load_address_;
    uint32_t image_size_;
    uint64_t budget_;
    sim::Board* board_ = nullptr;
    uint8_t* bound_ram_ = nullptr;
    CallStats last_;
    uint32_t stack_peak_ = 0;
    uint32_t lowest_sp_ = 0;
    std::string fault_;

    // The clock: instructions and blocks since the CPU was made, and the time
    // the host's delays added.
    ClockSettings clock_;
    std::unique_ptr<TimedSpi2> spi_;
    uint64_t executed_ = 0;    // up to the end of the current block
    uint64_t block_start_ = 0; // executed before the current block
    uint64_t blocks_ = 0;
    uint64_t delay_ps_ = 0;
    uint64_t call_start_ = 0; // instructions before this call
    const BlockInfo* block_ = nullptr;
    size_t next_access_ = 0; // the current block's memory accesses already done
    std::unordered_map<uint32_t, std::unique_ptr<BlockInfo>> blocks_seen_;
};

} // namespace emu
