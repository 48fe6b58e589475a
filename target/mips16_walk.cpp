#include "code_walk.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace target {
namespace {

// The call the post-link step leaves in MIPS16e code: an extended
// addiu $v0, $pc, imm (the callee's address, with its instruction-set bit),
// then jalrc $v0.
constexpr uint16_t ADDIUPC_V0 = 0x0A00;
constexpr uint16_t JALRC_V0 = 0xEAC0;

struct Instruction {
    uint16_t op = 0;
    std::optional<uint16_t> extend; // the EXTEND before op, when there is one
    uint32_t length = 2;
};

Instruction decode(const ElfFile& elf, uint32_t at) {
    const uint16_t first = elf.halfword(at);
    if ((first >> 11) == 0x1E) {
        return {elf.halfword(at + 2), first, 4};
    }
    return {first, std::nullopt, (first >> 11) == 0x03 ? 4u : 2u}; // jal and jalx take two halfwords
}

int32_t sign_extend(uint32_t value, unsigned bits) {
    const uint32_t sign = 1u << (bits - 1);
    return static_cast<int32_t>((value ^ sign) - sign);
}

// The 16-bit immediate that an EXTEND gives branches, adjsp and addiupc.
int32_t extended_immediate(const Instruction& in) {
    const uint32_t e = *in.extend;
    return sign_extend(((e & 0x1F) << 11) | (e & 0x7E0) | (in.op & 0x1F), 16);
}

// save and addiu $sp, imm: the bytes they take off the stack pointer.
uint32_t frame_bytes(const Instruction& in) {
    if ((in.op & 0xFF80) == 0x6480) { // save
        const uint32_t low = in.op & 0xF;
        if (in.extend) {
            return ((((static_cast<uint32_t>(*in.extend) >> 4) & 0xF) << 4) | low) * 8;
        }
        return low == 0 ? 128 : low * 8;
    }
    if ((in.op >> 8) == 0x63) { // adjsp
        const int32_t change = in.extend ? extended_immediate(in) : sign_extend(in.op & 0xFF, 8) * 8;
        return change < 0 ? static_cast<uint32_t>(-change) : 0;
    }
    return 0;
}

// b, beqz, bnez, bteqz, btnez: the offset in halfwords from the next instruction.
std::optional<int32_t> branch_offset(const Instruction& in) {
    const uint32_t major = in.op >> 11;
    const bool branches = major == 0x02 || major == 0x04 || major == 0x05 || (in.op >> 9) == 0x30;
    if (!branches) {
        return std::nullopt;
    }
    if (in.extend) {
        return extended_immediate(in);
    }
    return major == 0x02 ? sign_extend(in.op & 0x7FF, 11) : sign_extend(in.op & 0xFF, 8);
}

// jr, jrc, jalr and jalrc; through $ra they return.
std::optional<Flow> register_jump(const Instruction& in) {
    if (in.extend || (in.op & 0xF81F) != 0xE800) {
        return std::nullopt;
    }
    switch ((in.op >> 5) & 7) { // no delay slot, link, through $ra
    case 0:
    case 4: return Flow::HostJump;
    case 2:
    case 6: return Flow::HostCall;
    default: return std::nullopt;
    }
}

const DataRange* pool_at(const std::vector<DataRange>& pools, uint32_t at) {
    const auto pool = std::find_if(pools.begin(), pools.end(),
                                   [&](const DataRange& p) { return p.begin <= at && at < p.end; });
    return pool == pools.end() ? nullptr : &*pool;
}

void check_within(uint32_t at, uint32_t length, uint32_t end, const std::vector<DataRange>& pools) {
    const bool into_pool = std::any_of(pools.begin(), pools.end(), [&](const DataRange& p) {
        return at < p.begin && p.begin < at + length;
    });
    if (into_pool || at + length > end) {
        char text[80];
        std::snprintf(text, sizeof text, "the instruction at 0x%08X runs into %s", at,
                      into_pool ? "a literal pool" : "the end of its function");
        throw std::runtime_error(text);
    }
}

} // namespace

std::vector<DataRange> literal_pools(const ElfFile& elf) {
    const std::string pool = "__pool_", pend = "__pend_";
    std::map<std::string, uint32_t> ends;
    for (const Symbol& s : elf.symbols()) {
        if (s.name.starts_with(pend)) {
            ends[s.name.substr(pend.size())] = s.value;
        }
    }
    std::vector<DataRange> pools;
    for (const Symbol& s : elf.symbols()) {
        if (!s.name.starts_with(pool)) {
            continue;
        }
        const auto end = ends.find(s.name.substr(pool.size()));
        if (end == ends.end() || end->second < s.value) {
            throw std::runtime_error("the literal pool " + s.name + " has no end");
        }
        pools.push_back({s.value, end->second});
    }
    return pools;
}

FunctionCode walk_mips16(const ElfFile& elf, const Symbol& function, const std::vector<DataRange>& pools) {
    FunctionCode code;
    const uint32_t end = function.value + function.size;
    for (uint32_t at = function.value; at < end;) {
        if (const DataRange* pool = pool_at(pools, at)) {
            at = pool->end;
            continue;
        }
        const Instruction in = decode(elf, at);
        check_within(at, in.length, end, pools);
        code.frame += frame_bytes(in);
        if (in.extend && (in.op & 0xFFE0) == ADDIUPC_V0 && at + 6 <= end && !pool_at(pools, at + 4) &&
            elf.halfword(at + 4) == JALRC_V0) {
            const uint32_t callee = (at & ~3u) + static_cast<uint32_t>(extended_immediate(in));
            code.steps.push_back({Flow::Call, at, callee});
            at += 6;
            continue;
        }
        if ((in.op >> 11) == 0x03 && !in.extend) {
            code.steps.push_back({Flow::AbsoluteJump, at});
        } else if (const std::optional<int32_t> offset = branch_offset(in)) {
            const uint32_t target = at + in.length + static_cast<uint32_t>(*offset * 2);
            code.steps.push_back({Flow::Branch, at, target | 1});
        } else if (const std::optional<Flow> jump = register_jump(in)) {
            code.steps.push_back({*jump, at});
        }
        at += in.length;
    }
    return code;
}

} // namespace target
