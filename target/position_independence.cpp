#include "position_independence.h"

#include <elf.h>

#include <cstdio>
#include <map>
#include <set>

#include "code_walk.h"

namespace target {
namespace {

constexpr uint32_t OP_J = 2;
constexpr uint32_t OP_JAL = 3;
constexpr uint32_t R_MIPS16_26 = 100; // a MIPS16e jal or jalx (glibc's elf.h leaves it out)
constexpr uint32_t BAL = 0x04110000;  // bgezal $zero, offset
constexpr uint32_t B = 0x10000000;    // beq $zero, $zero, offset

// MIPS16e: the first halfword of jal and jalx (bit 10 set: to 32-bit code),
// and the call that replaces them. A MIPS16e call goes through a register:
// the extended addiupc puts the callee's address, with the instruction-set
// bit, PC-relatively into v0 and jalrc calls it. The six bytes are those of
// the jal or jalx and its delay slot, which the build leaves empty
// (-fno-delayed-branch) for this.
constexpr uint16_t M16_JAL_MASK = 0xF800;
constexpr uint16_t M16_JAL = 0x1800;
constexpr uint16_t M16_JALX_BIT = 0x0400;
constexpr uint16_t M16_NOP = 0x6500;
constexpr uint16_t M16_EXTEND = 0xF000;
constexpr uint16_t M16_ADDIUPC_V0 = 0x0A00;
constexpr uint16_t M16_JALRC_V0 = 0xEAC0;

uint32_t opcode(uint32_t insn) { return insn >> 26; }
bool is_bal(uint32_t insn) { return (insn & 0xFFFF0000) == BAL; }
bool is_m16_jal(uint16_t first) { return (first & M16_JAL_MASK) == M16_JAL; }

std::string hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

bool is_code(const Section& s) { return (s.flags & SHF_ALLOC) && (s.flags & SHF_EXECINSTR); }

std::string join(const std::vector<std::string>& lines) {
    std::string text = "the image cannot run at an arbitrary address:";
    for (const auto& line : lines) {
        text += "\n  " + line;
    }
    return text;
}

class Rewriter {
  public:
    explicit Rewriter(ElfFile& elf) : elf_(elf) {}

    RewriteSummary run() {
        find_load_offset_points();
        std::map<uint32_t, uint32_t> last_hi16; // symbol -> site of its latest R_MIPS_HI16
        for (const auto& r : elf_.relocations()) {
            if (!in_code(r.applies_to)) {
                if (r.type != R_MIPS_NONE && in_image(r.applies_to)) {
                    check_data_word(r);
                }
                continue;
            }
            switch (r.type) {
            case R_MIPS_NONE:
            case R_MIPS_PC16:
            case R_MIPS_JALR: break;
            case R_MIPS_26: rewrite_call(r.site); break;
            case R_MIPS16_26: rewrite_m16_call(r.site); break;
            case R_MIPS_HI16: last_hi16[r.symbol] = r.site; break;
            case R_MIPS_LO16:
                if (!is_constant(r.symbol)) {
                    check_absolute_address(r, last_hi16);
                }
                break;
            case R_MIPS_32: check_pool_word(r); break;
            default:
                problem("relocation type " + std::to_string(r.type) + " at " + where(r.site) +
                        " is not position independent");
            }
        }
        check_no_absolute_jumps_left();
        if (!problems_.empty()) {
            throw ImageRejected(problems_);
        }
        return summary_;
    }

  private:
    bool in_code(uint32_t section_index) const {
        return section_index < elf_.sections().size() && is_code(elf_.sections()[section_index]);
    }

    bool in_image(uint32_t section_index) const {
        return section_index < elf_.sections().size() && (elf_.sections()[section_index].flags & SHF_ALLOC);
    }

    std::string function_at(uint32_t address) const {
        for (const auto& s : elf_.symbols()) {
            if (s.type == STT_FUNC && address >= s.value && address - s.value < s.size) {
                return s.name;
            }
        }
        return "";
    }

    std::string where(uint32_t address) const {
        const std::string f = function_at(address);
        return hex(address) + (f.empty() ? "" : " (" + f + ")");
    }

    void problem(const std::string& text) { problems_.push_back(text); }

    // A symbol the linker script sets to a number, such as a distance
    // within the image: the same wherever the image runs.
    bool is_constant(uint32_t symbol) const {
        return symbol < elf_.symbols().size() && elf_.symbols()[symbol].section == SHN_ABS;
    }

    // The points that getFPC calls return to, and the functions that make them.
    void find_load_offset_points() {
        const Symbol* get_fpc = elf_.symbol("getFPC");
        for (const auto& r : elf_.relocations()) {
            if (get_fpc == nullptr || r.type != R_MIPS_PC16 || !in_code(r.applies_to) ||
                r.symbol >= elf_.symbols().size() || elf_.symbols()[r.symbol].name != "getFPC") {
                continue;
            }
            if (!is_bal(elf_.word(r.site))) {
                problem("getFPC is reached by something other than bal at " + where(r.site));
                continue;
            }
            return_points_.insert(r.site + 8);
            offset_takers_.insert(function_at(r.site));
            ++summary_.load_offset_points;
        }
    }

    void rewrite_call(uint32_t site) {
        const uint32_t insn = elf_.word(site);
        const uint32_t op = opcode(insn);
        if (op != OP_JAL && op != OP_J) {
            problem("R_MIPS_26 at " + where(site) + " is not a jal or j");
            return;
        }
        const uint32_t next = site + 4;
        const uint32_t target = (next & 0xF0000000) | ((insn & 0x03FFFFFF) << 2);
        const int64_t words = (static_cast<int64_t>(target) - static_cast<int64_t>(next)) / 4;
        if (words < INT16_MIN || words > INT16_MAX) {
            problem("call at " + where(site) + " to " + where(target) + " is beyond the reach of bal");
            return;
        }
        const uint32_t offset = static_cast<uint32_t>(words) & 0xFFFF;
        elf_.set_word(site, (op == OP_JAL ? BAL : B) | offset);
        ++(op == OP_JAL ? summary_.calls : summary_.jumps);
    }

    void rewrite_m16_call(uint32_t site) {
        const uint16_t first = elf_.halfword(site);
        if (!is_m16_jal(first)) {
            problem("R_MIPS16_26 at " + where(site) + " is not a jal or jalx");
            return;
        }
        if (elf_.halfword(site + 4) != M16_NOP) {
            problem("the call at " + where(site) + " has an instruction in its delay slot");
            return;
        }
        // jal: 00011 x target[20:16] target[25:21], then target[15:0].
        const uint32_t field = (first & 0x1Fu) << 21 | ((first >> 5) & 0x1Fu) << 16 | elf_.halfword(site + 2);
        const uint32_t target = ((site + 4) & 0xF0000000) | field << 2;
        const bool to_mips16 = (first & M16_JALX_BIT) == 0;
        const int64_t distance = static_cast<int64_t>(target | (to_mips16 ? 1 : 0)) - (site & ~3u);
        if (distance < INT16_MIN || distance > INT16_MAX) {
            problem("call at " + where(site) + " to " + where(target) + " is beyond the reach of addiupc");
            return;
        }
        const auto imm = static_cast<uint16_t>(distance);
        elf_.set_halfword(site, static_cast<uint16_t>(M16_EXTEND | ((imm >> 5) & 0x3F) << 5 | imm >> 11));
        elf_.set_halfword(site + 2, static_cast<uint16_t>(M16_ADDIUPC_V0 | (imm & 0x1F)));
        elf_.set_halfword(site + 4, M16_JALRC_V0);
        ++summary_.calls;
    }

    // A word of a MIPS16e function's constant pool that holds an address:
    // of code, a function pointer; of data, read without the load offset.
    void check_pool_word(const Relocation& r) {
        const uint32_t address = elf_.word(r.site) & ~1u;
        const Section* s = elf_.section_at(address);
        if (s != nullptr && is_code(*s)) {
            problem("absolute code address " + where(address) + " formed at " + where(r.site));
        } else {
            problem("constant data at " + hex(address) + " is read through its link-time address at " +
                    where(r.site) + ", which never takes the load offset");
        }
    }

    // A lui/low-half pair forms a link-time address: of code only at the
    // return point of getFPC, of constant data only where the load offset is known.
    void check_absolute_address(const Relocation& lo, const std::map<uint32_t, uint32_t>& last_hi16) {
        const auto hi = last_hi16.find(lo.symbol);
        if (hi == last_hi16.end()) {
            problem("low half of an address at " + where(lo.site) + " without its high half");
            return;
        }
        const uint32_t high = (elf_.word(hi->second) & 0xFFFF) << 16;
        const auto low = static_cast<int16_t>(elf_.word(lo.site) & 0xFFFF);
        const uint32_t address = high + static_cast<uint32_t>(static_cast<int32_t>(low));
        const Section* s = elf_.section_at(address);
        if (s != nullptr && is_code(*s)) {
            if (!return_points_.contains(address)) {
                problem("absolute code address " + where(address) + " formed at " + where(lo.site));
            }
            return;
        }
        if (!offset_takers_.contains(function_at(lo.site))) {
            problem("constant data at " + hex(address) + " is read through its link-time address at " +
                    where(lo.site) + ", which never takes the load offset");
            return;
        }
        ++summary_.data_references;
    }

    // A word of constant data that holds an address would be read as the link-time one.
    void check_data_word(const Relocation& r) {
        problem("constant data at " + hex(r.site) + " holds an address (relocation type " +
                std::to_string(r.type) + "): a table of pointers or a jump table");
    }

    // Verification only: the sites were found through the relocation records,
    // and every one of them now holds a PC-relative form.
    void check_no_absolute_jumps_left() {
        for (const uint32_t site : absolute_jumps(elf_)) {
            problem("absolute jump or call without a relocation record at " + where(site));
        }
    }

    ElfFile& elf_;
    RewriteSummary summary_;
    std::set<uint32_t> return_points_;
    std::set<std::string> offset_takers_;
    std::vector<std::string> problems_;
};

} // namespace

ImageRejected::ImageRejected(const std::vector<std::string>& lines)
    : std::runtime_error(join(lines)), problems(lines) {}

void check_image_layout(const ElfFile& elf) {
    std::vector<std::string> problems;
    for (const auto& s : elf.symbols()) {
        if (!s.name.empty() && s.section == SHN_UNDEF) {
            problems.push_back("undefined symbol " + s.name + ": the chip offers no library");
        }
        if (s.section == SHN_COMMON) {
            problems.push_back("common symbol " + s.name + ": the image may hold no variables");
        }
    }
    uint32_t start = UINT32_MAX;
    for (const auto& s : elf.sections()) {
        if (!(s.flags & SHF_ALLOC) || s.size == 0) {
            continue;
        }
        if ((s.flags & SHF_WRITE) || s.type == SHT_NOBITS) {
            problems.push_back("writable section " + s.name + ": the image is read-only");
        }
        start = std::min(start, s.address);
    }
    const Symbol* entry = elf.symbol("main");
    if (entry == nullptr || entry->type != STT_FUNC) {
        problems.push_back("no function main");
    } else if (entry->value != start) {
        problems.push_back("main is at " + hex(entry->value) + ", not at the start of the image " +
                           hex(start));
    }
    if (!problems.empty()) {
        throw ImageRejected(problems);
    }
}

RewriteSummary make_position_independent(ElfFile& elf) { return Rewriter(elf).run(); }

} // namespace target
