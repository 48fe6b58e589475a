// What the emulator reads of a block of MIPS16e code: where its instructions
// begin, what they do to $sp and how the block ends. Its loads and stores are
// not read: the module keeps every SFR access in 32-bit code, so the emulator
// only has to refuse one from MIPS16e code.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "block_exit.h"

namespace emu {

struct Mips16eBlock {
    uint32_t instructions = 0;
    int32_t stack_dip = 0; // the lowest SAVE and ADJSP (addiu $sp, imm) take $sp, from entry
    BlockExit exit;
};

// 4 for an instruction after EXTEND and for JAL/JALX, 2 for the rest.
uint32_t mips16e_length(uint16_t first);

// What one instruction (its one or two halfwords) does to $sp: SAVE lowers it
// by its frame, RESTORE raises it by as much, ADJSP adds its immediate.
int32_t mips16e_sp_change(std::span<const uint16_t> instruction);

// The block's halfwords in the order they sit in memory; none when the last
// instruction runs past them.
std::optional<Mips16eBlock> decode_mips16e(std::span<const uint16_t> code);

} // namespace emu
