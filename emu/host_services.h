// The host's side of the service table for the emulated chip: a trap at a
// service's address runs the board's host model with the argument registers.
// Each service's code there is `jr $ra` and its delay slot, so the CPU itself
// returns, into MIPS16e code when the caller's $ra says so: the engine cannot
// switch the instruction set by a write of the PC.
#pragma once

#include <cstdint>
#include <unicorn/unicorn.h>

#include "board.h"
#include "chip_map.h"

namespace emu {

// Where the code of the service at this table offset starts; its two
// instructions leave no room at the offset itself.
constexpr uint32_t SERVICE_CODE_BYTES = 8;
constexpr uint32_t service_entry(uint32_t offset) { return TRAP_BASE + offset / 4 * SERVICE_CODE_BYTES; }

// Writes the host table (service entries and data pointers) at the start of
// flash, and the services' code at their entries.
void install_host_table(uc_engine* uc);

// Runs the service whose code starts at `entry` and sets $v0; the service's
// `jr $ra` then returns. Returns the time the service takes the CPU
// (host_cost.h); host_delay's own time is the board's clock moving on. Throws
// EmuFault when the module hands the host a pointer outside RAM, or calls an
// address that is no service's entry.
uint64_t run_host_service(uc_engine* uc, sim::Board& board, uint32_t entry);

// Chip address in RAM (either segment) -> offset into the board's RAM.
uint32_t ram_offset(uint32_t address, const char* what);

} // namespace emu
