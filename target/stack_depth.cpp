#include "stack_depth.h"

#include <elf.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <stdexcept>

namespace target {
namespace {

constexpr uint32_t REG_SP = 29;
constexpr uint32_t REG_RA = 31;

// "_Z8pf_writeP5FATFSPKvjPj" -> "pf_write"; clones keep their suffix.
std::string function_name(const std::string& symbol) {
    std::string text = symbol;
    int status = 0;
    if (char* demangled = abi::__cxa_demangle(symbol.c_str(), nullptr, nullptr, &status)) {
        text = demangled;
        std::free(demangled);
    }
    for (const std::string anonymous = "(anonymous namespace)::";
         text.find(anonymous) != std::string::npos;) {
        text.erase(text.find(anonymous), anonymous.size());
    }
    const auto clone = text.find(" [clone ");
    const std::string suffix =
        clone == std::string::npos ? "" : text.substr(clone + 8, text.size() - clone - 9);
    text = text.substr(0, text.find('('));
    const auto scope = text.rfind("::");
    text = scope == std::string::npos ? text : text.substr(scope + 2);
    return text + suffix;
}

int32_t branch_offset(uint32_t word) { return static_cast<int16_t>(word & 0xFFFF) * 4; }

enum class Flow { None, Branch, Call, HostCall, HostJump, AbsoluteJump };

// What one instruction does to the flow of control.
Flow classify(uint32_t word) {
    const uint32_t opcode = word >> 26;
    const uint32_t rs = (word >> 21) & 31;
    const uint32_t rt = (word >> 16) & 31;
    switch (opcode) {
    case 0: // SPECIAL
        if ((word & 0x3F) == 9) {
            return Flow::HostCall; // jalr
        }
        if ((word & 0x3F) == 8 && rs != REG_RA) {
            return Flow::HostJump; // jr through a register other than the return address
        }
        return Flow::None;
    case 1: // REGIMM: bltz, bgez and their likely and linking forms
        if (rt <= 3) {
            return Flow::Branch;
        }
        if (rt >= 0x10 && rt <= 0x13) {
            return Flow::Call;
        }
        return Flow::None;
    case 2:
    case 3: return Flow::AbsoluteJump;
    case 4:
    case 5:
    case 6:
    case 7:
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17: return Flow::Branch;
    default: return Flow::None;
    }
}

// addiu $sp, $sp, -n
uint32_t frame_bytes(uint32_t word) {
    const bool adjusts_sp =
        (word >> 26) == 9 && ((word >> 21) & 31) == REG_SP && ((word >> 16) & 31) == REG_SP;
    const int16_t imm = static_cast<int16_t>(word & 0xFFFF);
    return adjusts_sp && imm < 0 ? static_cast<uint32_t>(-imm) : 0;
}

class DepthWalk {
  public:
    explicit DepthWalk(StackReport& report) : report_(report), state_(report.functions.size(), State::New) {}

    // Depth of function f, or throws the cycle's description on recursion.
    uint32_t depth(size_t f) {
        FunctionStack& fn = report_.functions[f];
        if (state_[f] == State::Done) {
            if (!fn.unbounded.empty()) {
                throw std::runtime_error(fn.unbounded);
            }
            return fn.depth;
        }
        if (state_[f] == State::Open) {
            throw std::runtime_error("recursion through " + fn.name);
        }
        state_[f] = State::Open;
        try {
            uint32_t below = fn.calls_host ? report_.host_allowance : 0;
            uint32_t deepest = fn.jumps_to_host ? report_.host_allowance : 0;
            for (const CallEdge& call : fn.calls) {
                const uint32_t d = depth(call.callee);
                if (call.tail) {
                    deepest = std::max(deepest, d);
                } else {
                    below = std::max(below, d);
                }
            }
            fn.depth = std::max(deepest, fn.frame + below);
        } catch (const std::runtime_error& e) {
            fn.unbounded = e.what();
            state_[f] = State::Done;
            throw;
        }
        state_[f] = State::Done;
        return fn.depth;
    }

  private:
    enum class State { New, Open, Done };
    StackReport& report_;
    std::vector<State> state_;
};

} // namespace

StackReport compute_stack(const ElfFile& elf, uint32_t host_allowance) {
    StackReport report;
    report.host_allowance = host_allowance;
    const Section* text = elf.section(".text");
    if (!text) {
        throw std::runtime_error("the image has no code");
    }
    for (const Symbol& s : elf.symbols()) {
        if (s.type == STT_FUNC && s.size > 0 && s.value >= text->address &&
            s.value < text->address + text->size) {
            report.functions.push_back({function_name(s.name), s.value, 0, 0, false, false, {}, {}});
        }
    }
    std::sort(report.functions.begin(), report.functions.end(),
              [](const FunctionStack& a, const FunctionStack& b) { return a.address < b.address; });
    std::map<uint32_t, size_t> entries;
    for (size_t i = 0; i < report.functions.size(); ++i) {
        entries[report.functions[i].address] = i;
    }

    for (const Symbol& s : elf.symbols()) {
        if (s.type != STT_FUNC || !entries.contains(s.value)) {
            continue;
        }
        FunctionStack& fn = report.functions[entries[s.value]];
        for (uint32_t at = s.value; at < s.value + s.size; at += 4) {
            const uint32_t word = elf.word(at);
            fn.frame += frame_bytes(word);
            const Flow flow = classify(word);
            if (flow == Flow::HostCall) {
                fn.calls_host = true;
            } else if (flow == Flow::HostJump) {
                fn.jumps_to_host = true;
            } else if (flow == Flow::AbsoluteJump) {
                throw std::runtime_error(fn.name + " keeps an absolute jump");
            } else if (flow == Flow::Call || flow == Flow::Branch) {
                const uint32_t target = at + 4 + static_cast<uint32_t>(branch_offset(word));
                if (flow == Flow::Branch && target >= s.value && target < s.value + s.size) {
                    continue; // within the function
                }
                const auto entry = entries.find(target);
                if (entry == entries.end()) {
                    char where[64];
                    std::snprintf(where, sizeof where, " branches to 0x%08X, no function's entry", target);
                    throw std::runtime_error(fn.name + where);
                }
                const CallEdge edge{entry->second, flow == Flow::Branch};
                if (std::none_of(fn.calls.begin(), fn.calls.end(), [&](const CallEdge& e) {
                        return e.callee == edge.callee && e.tail == edge.tail;
                    })) {
                    fn.calls.push_back(edge);
                }
            }
        }
    }

    const Symbol* entry = elf.symbol("main");
    if (!entry || !entries.contains(entry->value)) {
        throw std::runtime_error("the image has no function main");
    }
    DepthWalk walk(report);
    for (size_t i = 0; i < report.functions.size(); ++i) {
        try {
            walk.depth(i);
        } catch (const std::runtime_error&) {
            // kept in the function's unbounded field
        }
    }
    size_t f = entries[entry->value];
    report.unbounded = report.functions[f].unbounded;
    if (!report.unbounded.empty()) {
        return report;
    }
    report.worst_case = report.functions[f].depth;
    // Follow the edge that gives each function its depth.
    for (;;) {
        report.deepest_chain.push_back(f);
        const FunctionStack& fn = report.functions[f];
        const auto next = std::find_if(fn.calls.begin(), fn.calls.end(), [&](const CallEdge& e) {
            const uint32_t d = report.functions[e.callee].depth;
            return d > 0 && (e.tail ? d : fn.frame + d) == fn.depth;
        });
        if (next == fn.calls.end()) {
            return report;
        }
        f = next->callee;
    }
}

std::string describe_chain(const StackReport& report) {
    std::string text;
    for (const size_t f : report.deepest_chain) {
        const FunctionStack& fn = report.functions[f];
        text += (text.empty() ? "" : " > ") + fn.name + " " + std::to_string(fn.frame);
    }
    const FunctionStack& last = report.functions[report.deepest_chain.back()];
    if (last.calls_host && report.host_allowance > 0 && last.depth == last.frame + report.host_allowance) {
        text += " > host service " + std::to_string(report.host_allowance);
    }
    return text;
}

} // namespace target
