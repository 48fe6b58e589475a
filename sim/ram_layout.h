// Where the virtual board keeps things in the chip's 64 KiB of data RAM. Both
// CPUs (the native build and the emulated image) see this same layout.
#pragma once

#include <cstdint>

namespace sim {

// The chip's own 64 KiB; the virtual host's RAM reaches past it (see RAM_PROGRAM).
constexpr uint32_t CHIP_RAM_SIZE = 0x10000;
constexpr uint32_t RAM_KSEG0 = 0x80000000;

constexpr uint32_t RAM_MODE = 0x0000; // int32: command number
constexpr uint32_t RAM_P2 = 0x0004;   // int32: position
constexpr uint32_t RAM_P3 = 0x0008;   // int32: count
constexpr uint32_t RAM_P4 = 0x000C;   // int32: count read back
constexpr uint32_t RAM_P1 = 0x0010;   // name, string or raw buffer
constexpr uint32_t RAM_P1_SIZE = 0x1000;
constexpr uint32_t RAM_STATE = 0x1100; // state block
constexpr uint32_t RAM_STATE_SIZE = 0x100;
constexpr uint32_t RAM_OPTIONS = 0x1200;    // option_s record
constexpr uint32_t RAM_PIN_STATES = 0x1240; // int32 per pin
constexpr uint32_t PIN_COUNT = 64;
constexpr uint32_t RAM_ARENA = 0x2400; // host_alloc blocks, reclaimed after each command
constexpr uint32_t RAM_ARENA_SIZE = 0xCA00;
constexpr uint32_t RAM_STACK_TOP = CHIP_RAM_SIZE; // the stack grows down to the arena's end
constexpr uint32_t RAM_STACK_LIMIT = RAM_ARENA + RAM_ARENA_SIZE;
// The stored program. The interpreter on the chip keeps it in flash; the chip's
// RAM could not hold it beside a load's 51,200-byte buffer, so the virtual host
// keeps it just past that RAM. It holds the most a load delivers: 51,198 text
// bytes take at most 51,198 + 3 stored bytes (a line start and an end per line
// in place of its CR LF, one more start and end for a last line without CR LF,
// and the final 0).
constexpr uint32_t RAM_PROGRAM = CHIP_RAM_SIZE;
constexpr uint32_t RAM_PROGRAM_SIZE = 0xD000;
constexpr uint32_t RAM_SIZE = RAM_PROGRAM + RAM_PROGRAM_SIZE;

static_assert(RAM_P1 + RAM_P1_SIZE <= RAM_STATE);
static_assert(RAM_PIN_STATES + PIN_COUNT * 4 <= RAM_ARENA);
static_assert(RAM_PROGRAM_SIZE >= 51198 + 3);
static_assert(RAM_ARENA_SIZE >= 51200 + 512);
static_assert(RAM_STACK_LIMIT < RAM_STACK_TOP);

} // namespace sim
