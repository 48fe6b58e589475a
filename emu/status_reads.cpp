#include "status_reads.h"

namespace emu {
namespace {

constexpr uint32_t ALL_BITS = 0xFFFFFFFF;

uint32_t opcode(uint32_t w) { return w >> 26; }
uint32_t rs(uint32_t w) { return (w >> 21) & 31; }
uint32_t rt(uint32_t w) { return (w >> 16) & 31; }
uint32_t rd(uint32_t w) { return (w >> 11) & 31; }
uint32_t shamt(uint32_t w) { return (w >> 6) & 31; }
uint32_t funct(uint32_t w) { return w & 63; }

bool is_store(uint32_t w) {
    const uint32_t op = opcode(w);
    return (op >= 0x28 && op <= 0x2E) || op == 0x38;
}
bool is_load(uint32_t w) {
    const uint32_t op = opcode(w);
    return (op >= 0x20 && op <= 0x26) || op == 0x30;
}
bool is_andi(uint32_t w) { return opcode(w) == 0x0C; }
bool is_ext(uint32_t w) { return opcode(w) == 0x1F && funct(w) == 0x00; }
// sll, srl and sra by a constant (srl with rs = 1 is rotr, which is none of them).
bool is_shift(uint32_t w) {
    return opcode(w) == 0 && rs(w) == 0 && (funct(w) == 0x00 || funct(w) == 0x02 || funct(w) == 0x03);
}
bool is_sign_branch(uint32_t w) { // bltz, bgez and their linking forms
    return opcode(w) == 0x01 && (rt(w) & 0x0E) == 0;
}

struct RegisterUse {
    uint32_t reads = 0; // one bit per register
    int writes = -1;
};

// Which registers an M4K instruction reads and which one it writes;
// anything not known is taken to read rs and rt.
RegisterUse use_of(uint32_t w) {
    const uint32_t op = opcode(w);
    const uint32_t s = 1u << rs(w), t = 1u << rt(w);
    RegisterUse use;
    if (op == 0x00) {
        const uint32_t f = funct(w);
        if (f == 0x00 || f == 0x02 || f == 0x03) {
            use = {t, static_cast<int>(rd(w))};
        } else if (f == 0x08 || f == 0x11 || f == 0x13) { // jr, mthi, mtlo
            use = {s, -1};
        } else if (f == 0x10 || f == 0x12) { // mfhi, mflo
            use = {0, static_cast<int>(rd(w))};
        } else if (f >= 0x18 && f <= 0x1B) { // mult, multu, div, divu
            use = {s | t, -1};
        } else if (f == 0x0C || f == 0x0D || f == 0x0F) { // syscall, break, sync
            use = {0, -1};
        } else {
            use = {s | t, static_cast<int>(rd(w))};
        }
    } else if (op == 0x01 || op == 0x06 || op == 0x07) {
        use = {s, (op == 0x01 && (rt(w) & 0x10)) ? 31 : -1};
    } else if (op == 0x02) {
        use = {0, -1};
    } else if (op == 0x03) {
        use = {0, 31};
    } else if (op == 0x04 || op == 0x05) {
        use = {s | t, -1};
    } else if (op == 0x0F) { // lui
        use = {0, static_cast<int>(rt(w))};
    } else if (op >= 0x08 && op <= 0x0E) {
        use = {s, static_cast<int>(rt(w))};
    } else if (op == 0x1F && funct(w) == 0x00) { // ext
        use = {s, static_cast<int>(rt(w))};
    } else if (op == 0x1F && funct(w) == 0x04) { // ins
        use = {s | t, static_cast<int>(rt(w))};
    } else if (op == 0x1F && funct(w) == 0x20) { // seb, seh, wsbh
        use = {t, static_cast<int>(rd(w))};
    } else if (is_load(w)) {
        use = {(op == 0x22 || op == 0x26) ? s | t : s, static_cast<int>(rt(w))};
    } else {
        use = {s | t, op == 0x1C ? static_cast<int>(rd(w)) : -1};
    }
    if (use.writes == 0) {
        use.writes = -1;
    }
    return use;
}

// The bits of a source word that reach `examined` bits of it shifted by w.
uint32_t through_shift(uint32_t w, uint32_t examined) {
    const uint32_t sa = shamt(w);
    if (funct(w) == 0x00) { // sll
        return examined >> sa;
    }
    uint32_t source = static_cast<uint32_t>(static_cast<uint64_t>(examined) << sa);
    if (funct(w) == 0x03 && sa != 0 && (examined >> (32 - sa)) != 0) { // sra copies bit 31
        source |= 1u << 31;
    }
    return source;
}

// The bits of the value in `reg` after words[from] that the code examines.
uint32_t examined_after(std::span<const uint32_t> words, uint32_t from, uint32_t reg) {
    if (reg == 0) {
        return 0;
    }
    for (uint32_t i = from + 1; i < words.size(); ++i) {
        const uint32_t w = words[i];
        const RegisterUse use = use_of(w);
        if ((use.reads & (1u << reg)) == 0) {
            if (use.writes == static_cast<int>(reg)) {
                return 0;
            }
            continue;
        }
        if (is_andi(w) && rs(w) == reg) {
            return w & 0xFFFF;
        }
        if (is_ext(w) && rs(w) == reg) {
            const uint32_t size = rd(w) + 1;
            const uint32_t field = size >= 32 ? ALL_BITS : (1u << size) - 1;
            return field << shamt(w);
        }
        if (is_shift(w) && rt(w) == reg) {
            return through_shift(w, examined_after(words, i, rd(w)));
        }
        if (is_sign_branch(w)) {
            return 1u << 31;
        }
        if (is_store(w) && rt(w) == reg && rs(w) != reg) {
            return 0;
        }
        return ALL_BITS;
    }
    return 0;
}

bool selects_bits(uint32_t w, uint32_t reg) {
    return (is_andi(w) || is_ext(w)) ? rs(w) == reg && rt(w) == reg
                                     : is_shift(w) && rt(w) == reg && rd(w) == reg;
}

uint32_t apply(uint32_t w, uint32_t value) {
    if (is_andi(w)) {
        return value & (w & 0xFFFF);
    }
    if (is_ext(w)) {
        const uint32_t size = rd(w) + 1;
        return (value >> shamt(w)) & (size >= 32 ? ALL_BITS : (1u << size) - 1);
    }
    switch (funct(w)) {
    case 0x00: return value << shamt(w);
    case 0x02: return value >> shamt(w);
    default: return static_cast<uint32_t>(static_cast<int32_t>(value) >> shamt(w));
    }
}

} // namespace

uint32_t examined_bits(std::span<const uint32_t> words, uint32_t load) {
    return examined_after(words, load, rt(words[load]));
}

std::optional<PollLoop> PollLoop::recognise(std::span<const uint32_t> words) {
    // Any lui; lw; at least one selection; beqz/bnez back to the start; nop.
    uint32_t load = 0;
    while (load < words.size() && opcode(words[load]) == 0x0F) {
        ++load;
    }
    if (words.size() < load + 4 || opcode(words[load]) != 0x23 || words.back() != 0) {
        return std::nullopt;
    }
    const uint32_t reg = rt(words[load]);
    const size_t branch_at = words.size() - 2;
    const uint32_t branch = words[branch_at];
    const bool back_to_start = static_cast<int16_t>(branch & 0xFFFF) == -static_cast<int32_t>(branch_at + 1);
    if (reg == 0 || rs(words[load]) == reg || (opcode(branch) != 0x04 && opcode(branch) != 0x05) ||
        rs(branch) != reg || rt(branch) != 0 || !back_to_start) {
        return std::nullopt;
    }
    PollLoop loop;
    loop.load_ = load;
    for (size_t i = load + 1; i < branch_at; ++i) {
        if (!selects_bits(words[i], reg)) {
            return std::nullopt;
        }
        loop.selection_.push_back(words[i]);
    }
    loop.while_zero_ = opcode(branch) == 0x04;
    return loop;
}

bool PollLoop::continues(uint32_t word) const {
    for (uint32_t w : selection_) {
        word = apply(w, word);
    }
    return (word == 0) == while_zero_;
}

} // namespace emu
