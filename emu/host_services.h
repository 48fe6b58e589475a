// The host's side of the service table for the emulated chip: a trap at a
// service's address runs the board's host model with the argument registers.
#pragma once

#include <cstdint>
#include <unicorn/unicorn.h>

#include "board.h"

namespace emu {

// Writes the host table (service traps and data pointers) at the start of flash.
void install_host_table(uc_engine* uc);

// Runs the service whose table offset is given, sets $v0 and returns to $ra.
// Returns the time the service takes the CPU (host_cost.h); host_delay's own
// time is the board's clock moving on. Throws EmuFault when the module hands
// the host a pointer outside RAM.
uint64_t run_host_service(uc_engine* uc, sim::Board& board, uint32_t offset);

// Chip address in RAM (either segment) -> offset into the board's RAM.
uint32_t ram_offset(uint32_t address, const char* what);

} // namespace emu
