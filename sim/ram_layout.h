// Where the virtual board keeps things in the chip's 64 KiB of data RAM. Both
// CPUs (the native build and the emulated image) see this same layout.
#pragma once

#include <cstdint>

namespace sim {

constexpr uint32_t RAM_SIZE = 0x10000;
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
constexpr uint32_t RAM_PROGRAM = 0x1400; // stored program
constexpr uint32_t RAM_PROGRAM_SIZE = 0x1000;
constexpr uint32_t RAM_ARENA = 0x2400; // host_alloc blocks, reclaimed after each command
constexpr uint32_t RAM_ARENA_SIZE = 0xCA00;
constexpr uint32_t RAM_STACK_TOP = RAM_SIZE; // the stack grows down to the arena's end
constexpr uint32_t RAM_STACK_LIMIT = RAM_ARENA + RAM_ARENA_SIZE;

static_assert(RAM_P1 + RAM_P1_SIZE <= RAM_STATE);
static_assert(RAM_PIN_STATES + PIN_COUNT * 4 <= RAM_PROGRAM);
static_assert(RAM_PROGRAM + RAM_PROGRAM_SIZE <= RAM_ARENA);
static_assert(RAM_ARENA_SIZE >= 51200 + 512);
static_assert(RAM_STACK_LIMIT < RAM_STACK_TOP);

} // namespace sim
