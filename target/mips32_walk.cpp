#include "code_walk.h"

#include <optional>

namespace target {
namespace {

constexpr uint32_t REG_SP = 29;
constexpr uint32_t REG_RA = 31;

constexpr uint32_t opcode(uint32_t word) { return word >> 26; }
constexpr uint32_t rs(uint32_t word) { return (word >> 21) & 31; }
constexpr uint32_t rt(uint32_t word) { return (word >> 16) & 31; }
constexpr int32_t immediate(uint32_t word) { return static_cast<int16_t>(word & 0xFFFF); }

std::optional<Flow> classify(uint32_t word) {
    switch (opcode(word)) {
    case 0: // SPECIAL
        if ((word & 0x3F) == 9) {
            return Flow::HostCall; // jalr
        }
        if ((word & 0x3F) == 8 && rs(word) != REG_RA) {
            return Flow::HostJump; // jr through a register other than the return address
        }
        return std::nullopt;
    case 1: // REGIMM: bltz, bgez and their likely and linking forms
        if (rt(word) <= 3) {
            return Flow::Branch;
        }
        if (rt(word) >= 0x10 && rt(word) <= 0x13) {
            return Flow::Call;
        }
        return std::nullopt;
    case 2:
    case 3:
    case 0x1D: return Flow::AbsoluteJump; // j, jal, jalx
    case 4:
    case 5:
    case 6:
    case 7:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17: return Flow::Branch;
    default: return std::nullopt;
    }
}

bool is_addiu(uint32_t word, uint32_t dest, uint32_t source) {
    return opcode(word) == 9 && rt(word) == dest && rs(word) == source;
}

// main's way into the MIPS16e code (sdcard.h): bal over its delay slot puts
// the PC in $ra, addiu adds the distance, jr goes there with the host's $ra.
// Its target, not the jr's register, is where the stack goes on. Returns the
// target, or 0 when the words at `at` are not that sequence.
uint32_t pc_relative_jump(const ElfFile& elf, uint32_t at, uint32_t end) {
    if (at + 16 > end) {
        return 0;
    }
    const uint32_t bal = elf.word(at), add = elf.word(at + 8), jump = elf.word(at + 12);
    const uint32_t reg = rt(add);
    const bool reads_pc = opcode(bal) == 1 && rt(bal) == 0x11 && rs(bal) == 0 && immediate(bal) == 1;
    if (!reads_pc || !is_addiu(add, reg, REG_RA) || reg == REG_RA || jump != ((reg << 21) | 8)) {
        return 0;
    }
    return at + 8 + static_cast<uint32_t>(immediate(add));
}

} // namespace

FunctionCode walk_mips32(const ElfFile& elf, const Symbol& function) {
    FunctionCode code;
    const uint32_t end = function.value + function.size;
    for (uint32_t at = function.value; at < end; at += 4) {
        if (const uint32_t target = pc_relative_jump(elf, at, end)) {
            code.steps.push_back({Flow::Branch, at + 12, target});
            at += 12;
            continue;
        }
        const uint32_t word = elf.word(at);
        if (is_addiu(word, REG_SP, REG_SP) && immediate(word) < 0) {
            code.frame += static_cast<uint32_t>(-immediate(word));
        }
        if (const std::optional<Flow> flow = classify(word)) {
            const bool relative = *flow == Flow::Branch || *flow == Flow::Call;
            code.steps.push_back(
                {*flow, at, relative ? at + 4 + static_cast<uint32_t>(immediate(word) * 4) : 0});
        }
    }
    return code;
}

} // namespace target
