// The one thin layer between the module and the outside world.
//
// On the chip a register is a volatile word at its address and the host table
// sits at its flash address. On the PC both are calls into the virtual board,
// so the module's sources build unchanged for tests and tools.
#pragma once

#include <stdint.h>

#include "cfunctions.h"
#include "isa.h"

#if defined(__mips__)

MIPS32_CODE inline uint32_t reg_read(uint32_t address) {
    return *reinterpret_cast<volatile uint32_t*>(address);
}

MIPS32_CODE inline void reg_write(uint32_t address, uint32_t value) {
    *reinterpret_cast<volatile uint32_t*>(address) = value;
}

inline uintptr_t host_word(uint32_t offset) {
    return *reinterpret_cast<volatile uint32_t*>(HOST_TABLE_ADDRESS + offset);
}

#else

extern "C" uint32_t vboard_reg_read(uint32_t address);
extern "C" void vboard_reg_write(uint32_t address, uint32_t value);
extern "C" uintptr_t vboard_host_word(uint32_t offset);

inline uint32_t reg_read(uint32_t address) { return vboard_reg_read(address); }
inline void reg_write(uint32_t address, uint32_t value) { vboard_reg_write(address, value); }
inline uintptr_t host_word(uint32_t offset) { return vboard_host_word(offset); }

#endif

template <typename T> inline T host_entry(uint32_t offset) { return reinterpret_cast<T>(host_word(offset)); }
