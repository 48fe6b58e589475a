// Where the emulated chip keeps things: the PIC32MX170's own map (KSEG0 and
// KSEG1 views of flash, RAM and the SFRs) plus the page the host's services
// trap in.
//
// Unicorn's MIPS translates KSEG0 and KSEG1 to physical addresses (the low 29
// bits), and its memory API does the same to the addresses it is given: a
// region mapped at 0x9D000000 is also seen at 0xBD000000, as on the chip. It
// lets addresses below KSEG0 reach the same physical memory too, which the
// chip does not, so the emulator refuses every access there itself.
#pragma once

#include <cstdint>

namespace emu {

constexpr uint32_t FLASH_BASE = 0x9D000000; // the host table sits at its start
constexpr uint32_t FLASH_SIZE = 0x40000;
constexpr uint32_t RAM_BASE = 0x80000000;
constexpr uint32_t RAM_UNCACHED_BASE = 0xA0000000;
constexpr uint32_t SFR_BASE = 0xBF800000;
constexpr uint32_t SFR_SIZE = 0x10000;
// The boot flash stands in for the host's code: each service entry of the
// host table points at the service's code there (host_services.h).
constexpr uint32_t TRAP_BASE = 0x9FC00000;
constexpr uint32_t TRAP_SIZE = 0x1000;
constexpr uint32_t RETURN_TRAP = TRAP_BASE + 0x800; // main returns here

// Flash the host leaves free for the module: everything after its table.
constexpr uint32_t IMAGE_SPACE_BASE = FLASH_BASE + 0x1000;

} // namespace emu
