#include "mips16e_block.h"

#include <algorithm>

namespace emu {
namespace {

bool is_extend(uint16_t h) { return (h >> 11) == 0x1E; }
bool is_jal(uint16_t h) { return (h >> 11) == 0x03; } // JAL, and JALX with bit 10 set

// JR, JALR, JRC and JALRC: 11101 rx nd l ra 00000, where nd marks the compact
// forms (no delay slot) and ra takes $ra in place of rx.
bool is_register_jump(uint16_t h) { return (h & 0xF81F) == 0xE800; }
bool is_compact(uint16_t h) { return (h & 0x80) != 0; }
int jump_register(uint16_t h) {
    constexpr int kRegisters[8] = {16, 17, 2, 3, 4, 5, 6, 7}; // what a 3-bit field names
    return (h & 0x20) ? 31 : kRegisters[(h >> 8) & 7];
}

// A compact jump ends the block; a jump with a delay slot comes one before the end.
BlockExit exit_of(std::span<const uint16_t> code, size_t last, std::optional<size_t> before_last) {
    if (is_register_jump(code[last]) && is_compact(code[last])) {
        return {BlockExit::Kind::Register, jump_register(code[last])};
    }
    if (before_last) {
        const uint16_t h = code[*before_last];
        if (is_register_jump(h) && !is_compact(h)) {
            return {BlockExit::Kind::Register, jump_register(h)};
        }
        if (is_jal(h) && (h & 0x0400) != 0) {
            return {BlockExit::Kind::Toggle};
        }
    }
    return {};
}

} // namespace

uint32_t mips16e_length(uint16_t first) { return is_extend(first) || is_jal(first) ? 4 : 2; }

int32_t mips16e_sp_change(std::span<const uint16_t> instruction) {
    const bool extended = instruction.size() == 2 && is_extend(instruction[0]);
    const uint16_t e = instruction[0];
    const uint16_t op = instruction[extended ? 1 : 0];
    if ((op & 0xFF00) == 0x6400) { // SAVE (bit 7 set) and RESTORE: 01100 100 s ra s0 s1 frame
        // EXTEND carries the frame's high four bits (in its bits 7:4); the
        // short form's frame 0 means 16 double words.
        const uint32_t frame = extended ? (e & 0xF0) | (op & 0xF) : (op & 0xF) != 0 ? op & 0xF : 16;
        const auto bytes = static_cast<int32_t>(frame * 8);
        return (op & 0x80) != 0 ? -bytes : bytes;
    }
    if ((op & 0xFF00) == 0x6300) { // ADJSP: 01100 011 imm8, in double words
        if (!extended) {
            return static_cast<int8_t>(op & 0xFF) * 8;
        }
        // EXTEND: 11110 imm[10:5] imm[15:11]; the instruction keeps imm[4:0].
        return static_cast<int16_t>((e & 0x1F) << 11 | ((e >> 5) & 0x3F) << 5 | (op & 0x1F));
    }
    return 0;
}

std::optional<Mips16eBlock> decode_mips16e(std::span<const uint16_t> code) {
    if (code.empty()) {
        return std::nullopt;
    }
    Mips16eBlock block;
    int32_t sp = 0;
    size_t last = 0;
    std::optional<size_t> before_last;
    for (size_t at = 0; at < code.size();) {
        const size_t halfwords = mips16e_length(code[at]) / 2;
        if (at + halfwords > code.size()) {
            return std::nullopt;
        }
        sp += mips16e_sp_change(code.subspan(at, halfwords));
        block.stack_dip = std::min(block.stack_dip, sp);
        ++block.instructions;
        if (at != 0) {
            before_last = last;
        }
        last = at;
        at += halfwords;
    }
    block.exit = exit_of(code, last, before_last);
    return block;
}

} // namespace emu
