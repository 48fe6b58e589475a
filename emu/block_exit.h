// Which instruction set a block of code runs in, and how the block it hands
// the CPU to is told: the CPU changes set only at a jump that says so (JALX)
// or at a jump through a register, whose bit 0 names the next set.
#pragma once

#include <cstdint>
#include <span>

namespace emu {

enum class Isa : uint8_t { Mips32, Mips16e };

struct BlockExit {
    enum class Kind : uint8_t {
        Keep,     // a branch, a jump within the set, or no jump (the engine cut the block)
        Toggle,   // JALX
        Register, // JR, JALR and their compact MIPS16e forms
    };
    Kind kind = Kind::Keep;
    int reg = 0; // Register: the jump's register
};

// The exit of a block of MIPS32 words: its jump, if any, is the word before the delay slot.
BlockExit mips32_exit(std::span<const uint32_t> words);

} // namespace emu
