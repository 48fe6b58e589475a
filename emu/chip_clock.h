// The emulated chip's sense of time: SYSCLK cycles counted from the
// instructions the CPU executes, the peripheral bus clock that SPI2 runs on,
// and the host's delays.
//
// Where this model simplifies the chip:
// - Every instruction takes one SYSCLK cycle, as the M4K's pipeline issues
//   one per cycle; multiply/divide latency, load-use interlocks and the wait
//   of an access across the peripheral bus are not counted.
// - Program flash wait states are charged once for every straight-line block
//   of code the CPU enters (after a branch, taken or not, or a call): the
//   prefetch buffer hides them while code runs straight on, a change of flow
//   has to wait for flash. Real prefetch hits and misses are not modelled.
// - Host services take the time host_costs.h estimates for each; host_delay
//   moves the clock on by the microseconds asked for. Host interrupts hold the
//   CPU as pause_schedule.h says. No time passes between two calls of the
//   module, for the interrupt timers neither.
// - Bus traffic cannot stall the CPU: the module waits by polling, and every
//   poll is an instruction that is counted.
#pragma once

#include <cstdint>

namespace emu {

struct ClockSettings {
    // The chip's top rated speed, which the host runs at.
    uint32_t sysclk_hz = 40'000'000;
    // The host runs the peripheral bus at SYSCLK (divisor 1), so SPI2BRG 2
    // gives the 6.67 MHz bus clock that one byte per 48 PBCLKs means.
    uint32_t pb_divisor = 1;
    // Program flash needs one wait state at 40 MHz on this part.
    uint32_t flash_wait_states = 1;

    uint64_t pbclk_hz() const { return sysclk_hz / pb_divisor; }
    uint64_t cycles_to_ps(uint64_t cycles) const {
        return static_cast<uint64_t>(static_cast<unsigned __int128>(cycles) * 1'000'000'000'000ull /
                                     sysclk_hz);
    }
};

} // namespace emu
