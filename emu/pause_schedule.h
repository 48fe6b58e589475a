// When the emulated CPU is held off its instructions: the host's interrupt
// loads, each on a timer of its own, and a one-shot pause a test places at an
// instruction of a call. SPI2 and the card go on meanwhile, so a pause is time
// added to the chip's clock at the instruction boundary where it falls.
//
// Only register accesses and host calls observe time, so the CPU asks for the
// pauses due up to each of those and adds them then: a pause due at time d
// holds the first instruction that starts at or after d, and everything after
// that instruction moves on by its length whenever it is counted, which gives
// exactly the times of applying it at its instruction. Pauses that fall due
// while another runs follow it at once, as pending interrupts do.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "interrupt_load.h"

namespace emu {

class PauseSchedule {
  public:
    // Each load's timer starts now: its first pause falls one period later.
    // Throws std::invalid_argument for loads that leave the CPU no time.
    void set_loads(const std::vector<InterruptLoad>& loads, uint64_t now_ps);
    // One pause before the instruction of the next call that has `instructions`
    // instructions of the call before it.
    void pause_at(uint64_t instructions, uint64_t length_ps) { one_shot_ = OneShot{instructions, length_ps}; }
    void begin_call() {
        armed_ = one_shot_;
        one_shot_.reset();
    }

    // The CPU reaches `time_ps` (pauses so far included) at the start of the
    // call's instruction `instruction`: the pause time due by then.
    uint64_t catch_up(uint64_t time_ps, uint64_t instruction);
    // A host delay from start_ps on, for length_ps on the core timer: a pause
    // within it does not lengthen it, but one can run on past its end. Returns
    // by how much the last pause due within it ends after it.
    uint64_t absorb_delay(uint64_t start_ps, uint64_t length_ps);

    // When the next load's pause is due; UINT64_MAX when there is none.
    uint64_t next_due_ps() const;
    // Where the one-shot pause of this call falls, if it has not yet.
    std::optional<uint64_t> one_shot_instruction() const;

  private:
    struct Timer {
        uint64_t period_ps;
        uint64_t length_ps;
        uint64_t due_ps;
    };
    struct OneShot {
        uint64_t instruction;
        uint64_t length_ps;
    };
    Timer* earliest();

    std::vector<Timer> timers_;
    std::optional<OneShot> one_shot_; // for the next call
    std::optional<OneShot> armed_;    // in this call
};

} // namespace emu
