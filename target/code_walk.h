// One function's code as the stack computation sees it, decoded in the
// function's own instruction set: how far it moves the stack pointer down, and
// every place where control leaves it other than by returning.
#pragma once

#include <cstdint>
#include <vector>

#include "elf_file.h"

namespace target {

enum class Flow {
    Branch,      // a PC-relative branch or jump: within the function, or a tail call
    Call,        // a PC-relative call
    HostCall,    // a call through a register: a host service
    HostJump,    // a jump through a register other than the return address: a host service
    AbsoluteJump // jal, j or jalx, which would reach the link-time address
};

struct FlowStep {
    Flow flow;
    uint32_t at; // address of the instruction
    // Branch and Call: where it goes, with bit 0 set when the code there runs
    // in MIPS16e, as a jump through a register takes it.
    uint32_t target = 0;
};

struct FunctionCode {
    uint32_t frame = 0; // bytes the stack-pointer decrements add up to
    std::vector<FlowStep> steps;
};

// Constant data that GCC places between the instructions of MIPS16e
// functions, from the __pool_/__pend_ symbols that bracket it.
struct DataRange {
    uint32_t begin;
    uint32_t end;
};
std::vector<DataRange> literal_pools(const ElfFile& elf);

FunctionCode walk_mips32(const ElfFile& elf, const Symbol& function);
// Throws when an instruction runs into a literal pool or past the function's end.
FunctionCode walk_mips16(const ElfFile& elf, const Symbol& function, const std::vector<DataRange>& pools);
// Either walk, by the function's instruction set.
FunctionCode walk_function(const ElfFile& elf, const Symbol& function, const std::vector<DataRange>& pools);

// Where any function of the image still has a jal, j or jalx.
std::vector<uint32_t> absolute_jumps(const ElfFile& elf);

} // namespace target
