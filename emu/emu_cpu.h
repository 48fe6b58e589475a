// The chip image on an emulated M4K (Unicorn, MIPS32 little-endian, with
// MIPS16e) driving the same virtual board as the native build: the board's RAM
// is the chip's RAM, its registers are the SFR page and its host model answers
// the service table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "block_exit.h"
#include "chip_clock.h"
#include "cpu.h"
#include "interrupt_load.h"
#include "pause_schedule.h"
#include "timed_spi2.h"

struct uc_struct;

namespace emu {

// The image did something the chip would not survive: a fault, an access to
// unmapped memory or to flash, a read of a status bit the datasheet calls
// invalid, a hang on a status that can never change, a runaway; or something
// the emulator cannot follow exactly: an SFR access from MIPS16e code. The
// text says where, with registers.
class EmuFault : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct CallStats {
    uint64_t instructions = 0; // executed by the module, host services excluded
    uint32_t stack_bytes = 0;  // below the stack pointer main was called with
    uint64_t time_ps = 0;      // on the chip's clock, host services and pauses included
    uint64_t paused_ps = 0;    // of that time, the CPU held by interrupts or a test's pause
};

// One access of an SFR, at the instruction of the call that made it.
struct SfrAccess {
    uint64_t instruction; // instructions of the call before it
    uint32_t address;
    bool store;
};

class EmuCpu : public sim::Cpu {
  public:
    // A call is stopped as a runaway once it has run this long on the chip's
    // clock. The longest calls the module can make are bounded by its fixed
    // waits: 10,000 start-up attempts 100 us apart on a card that never gets
    // ready, a data token wait of 2^17 polls (157 ms at 40 MHz), a busy wait
    // of 1,024 polls and then 20,000 polls 100 us apart (2 s) on a card that
    // stays busy; the fault matrix put every call under 11.8 s with the waits
    // before these. 60 s leaves room for those waits, for interrupt loads that
    // stretch the CPU's share of a call several times over and for the host
    // services' time. Every block moves the clock on, so the bound ends any
    // loop; one that reads an SFR every turn takes about 0.7 s of this
    // machine's time per second of chip time, and one that polls SPI2STAT for
    // a status that can never change is stopped at once as a hang.
    static constexpr uint64_t RUNAWAY_PS = 60'000'000'000'000ull;

    // Places the image at load_address in flash (word aligned, clear of the host table).
    EmuCpu(const std::vector<uint8_t>& image, uint32_t load_address, uint64_t runaway_ps = RUNAWAY_PS,
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

    // Host interrupt loads; each one's timer starts now, so its first pause
    // falls one period later (in sdsim and the bench: one period after
    // power-up). Throws std::invalid_argument for loads that leave the CPU no time.
    void set_interrupts(const std::vector<InterruptLoad>& loads) { pauses_.set_loads(loads, now_ps()); }
    // For tests: the next call is held for length_ps before the instruction
    // that has `instructions` instructions of the call before it.
    void pause_at(uint64_t instructions, uint64_t length_ps) { pauses_.pause_at(instructions, length_ps); }
    // Keeps, for each call, its SFR accesses with the instruction of each.
    void record_sfr_accesses(bool on) { record_sfr_ = on; }
    const std::vector<SfrAccess>& sfr_accesses() const { return sfr_log_; }

    // Called from the engine's hooks.
    struct Hooks;

  private:
    void bind(sim::Board& board);
    void fault(const std::string& what);
    std::string register_dump();
    struct BlockInfo;
    std::optional<Isa> next_isa(uint32_t address);
    void enter_block(uint32_t address, uint32_t size);
    const BlockInfo* block_info(uint32_t address, uint32_t size, Isa isa);
    bool read_mips32(BlockInfo& block, const std::vector<uint8_t>& code);
    bool read_mips16e(BlockInfo& block, const std::vector<uint8_t>& code);
    bool from_mips32_code(uint32_t address, bool store);
    struct Access;
    const Access* find_access(uint32_t address, bool store);
    uint64_t time_at(uint64_t instructions) const;
    void observe(uint64_t instructions);
    const Access* sync_board(uint32_t address, bool store);
    void read_status(const Access* access);
    void skip_idle_polls(uint32_t examined);
    void host_code(uint32_t pc);
    void host_service(uint32_t entry);
    std::string code_address(uint32_t byte_offset) const;

    uc_struct* uc_ = nullptr;
    uint32_t load_address_;
    uint32_t image_size_;
    uint64_t runaway_ps_;
    sim::Board* board_ = nullptr;
    uint8_t* bound_ram_ = nullptr;
    CallStats last_;
    uint32_t stack_peak_ = 0;
    uint32_t lowest_sp_ = 0;
    std::string fault_;

    // The clock: instructions and blocks since the CPU was made, the time the
    // host's services took and the time the CPU was held.
    ClockSettings clock_;
    std::unique_ptr<TimedSpi2> spi_;
    uint64_t executed_ = 0;    // up to the end of the current block
    uint64_t block_start_ = 0; // executed before the current block
    uint64_t blocks_ = 0;
    uint64_t host_ps_ = 0;
    uint64_t paused_ps_ = 0;
    PauseSchedule pauses_;
    uint64_t call_start_ = 0; // instructions before this call
    uint64_t call_start_ps_ = 0;
    bool record_sfr_ = false;
    std::vector<SfrAccess> sfr_log_;
    const BlockInfo* block_ = nullptr;
    Isa isa_ = Isa::Mips32;           // of the block the CPU last entered, the host's code included
    BlockExit exit_;                  // how that block hands over to the next
    uint32_t service_delay_slot_ = 0; // of the service that just ran
    size_t next_access_ = 0;          // the current block's memory accesses already done
    // By the address with the MIPS16e bit, as a jump's register holds it.
    std::unordered_map<uint32_t, std::unique_ptr<BlockInfo>> blocks_seen_;
};

} // namespace emu
