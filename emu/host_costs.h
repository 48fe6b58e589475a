// What the host's services cost the emulated chip, on top of the module's own
// instructions: the interpreter's code behind each entry of the service table
// runs on the same CPU. These are estimates for an interpreter on a 40 MHz
// PIC32 (25 ns an instruction, flash wait states included), from the work each
// service has to do; replace them with figures measured on a board (the core
// timer read before and after one call of the service).
//
// A service acts at the start of its time (a pin changes, a text is taken)
// and the CPU then spends the rest of it; an interrupt that falls within it
// lengthens it as it would any instruction. host_delay costs exactly what it
// asks for, on the core timer.
#pragma once

#include <cstdint>

namespace emu::host_cost {

constexpr uint64_t PS_PER_US = 1'000'000;

// A pin write: the pin number checked, its use looked up in the pin table,
// its port's LAT set or cleared; about 120 instructions.
constexpr uint64_t PIN_WRITE_PS = 3 * PS_PER_US;

// A pin configuration: TRIS, ANSEL, open drain and pull-ups of the pin's
// port, and the pin table; about 400 instructions.
constexpr uint64_t PIN_CONFIG_PS = 10 * PS_PER_US;

// A print: the call and the console's state, then each character into the
// console's output (its UART buffer and the screen): about 80 instructions
// a character.
constexpr uint64_t PRINT_CALL_PS = 5 * PS_PER_US;
constexpr uint64_t PRINT_PER_CHARACTER_PS = 2 * PS_PER_US;

// An allocation: the heap's page table searched for a free run of pages,
// then the block cleared a word per instruction.
constexpr uint64_t ALLOC_CALL_PS = 20 * PS_PER_US;
constexpr uint64_t ALLOC_PER_BYTE_PS = 25'000 / 4;

// Listing one stored line: the line's tokens expanded back into text, about
// 40 instructions a character produced, after a look-up of the line.
constexpr uint64_t LIST_LINE_PS = 10 * PS_PER_US;
constexpr uint64_t LIST_PER_CHARACTER_PS = 1 * PS_PER_US;

// Taking a program text: each line tokenised and stored in program memory,
// about 80 instructions a byte of text, after the program memory is set up.
constexpr uint64_t LOAD_CALL_PS = 100 * PS_PER_US;
constexpr uint64_t LOAD_PER_BYTE_PS = 2 * PS_PER_US;

// Preparing a load: the program's variables and pointers cleared and its
// open files closed.
constexpr uint64_t PREPARE_LOAD_PS = 50 * PS_PER_US;

} // namespace emu::host_cost
