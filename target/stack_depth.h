// The stack the image needs, computed from its own code: each function's
// frame from its stack-pointer adjustments, the call graph from its
// PC-relative calls and jumps, and the host's services as a stated allowance.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elf_file.h"

namespace target {

struct CallEdge {
    size_t callee; // index into StackReport::functions
    bool tail;     // a jump that leaves the function: its frame is gone by then
};

struct FunctionStack {
    std::string name; // demangled, without its argument list
    uint32_t address = 0;
    bool mips16 = false;        // in the MIPS16e instruction set
    uint32_t frame = 0;         // bytes the function moves the stack pointer down by
    uint32_t depth = 0;         // worst case from its entry: its frame and the deepest call below it
    bool calls_host = false;    // calls a host service through a register
    bool jumps_to_host = false; // leaves through a register jump into a host service
    std::vector<CallEdge> calls;
    std::string unbounded; // why no depth can be given (recursion), empty when bounded
};

struct StackReport {
    std::vector<FunctionStack> functions; // in address order
    uint32_t host_allowance = 0;          // bytes counted for every host service call
    // Worst case of the entry point: the deepest chain of frames below the
    // stack pointer main is called with, host services counted by the allowance.
    uint32_t worst_case = 0;
    std::vector<size_t> deepest_chain; // from main down
    std::string unbounded;             // non-empty when main's depth has no bound
};

// Decodes every function of the linked, already PC-relative image, each in
// its own instruction set (code_walk.h). A branch out of a function is a tail
// call and must land on a function's entry; a call through a register is a
// host service. Recursion leaves the depth unbounded and says where.
StackReport compute_stack(const ElfFile& elf, uint32_t host_allowance);

// "main 64 > move_reported 48 > ..." for the report.
std::string describe_chain(const StackReport& report);

} // namespace target
