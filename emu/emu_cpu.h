// The chip image on an emulated M4K (Unicorn, MIPS32 little-endian) driving the
// same virtual board as the native build: the board's RAM is the chip's RAM,
// its registers are the SFR page and its host model answers the service table.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "cpu.h"

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
};

class EmuCpu : public sim::Cpu {
  public:
    static constexpr uint64_t DEFAULT_BUDGET = 20'000'000;

    // Places the image at load_address in flash (word aligned, clear of the host table).
    EmuCpu(const std::vector<uint8_t>& image, uint32_t load_address, uint64_t budget = DEFAULT_BUDGET);
    ~EmuCpu() override;
    EmuCpu(const EmuCpu&) = delete;
    EmuCpu& operator=(const EmuCpu&) = delete;

    static std::vector<uint8_t> read_image(const std::string& path);

    void call_main(sim::Board& board) override;
    std::string name() const override;

    uint32_t load_address() const { return load_address_; }
    const CallStats& last_call() const { return last_; }
    uint32_t stack_peak() const { return stack_peak_; } // over every call so far

    // Called from the engine's hooks.
    struct Hooks;

  private:
    void bind(sim::Board& board);
    void fault(const std::string& what);
    std::string register_dump();

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
};

} // namespace emu
