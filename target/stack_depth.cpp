#include "stack_depth.h"

#include <elf.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>

#include "code_walk.h"

namespace target {
namespace {

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

// Records where one step of a function's code leads: a host service, a call,
// or a branch that leaves the function and so is a tail call.
void add_step(FunctionStack& fn, const Symbol& s, const FlowStep& step,
              const std::map<uint32_t, size_t>& entries, const std::vector<FunctionStack>& functions) {
    char where[80];
    switch (step.flow) {
    case Flow::HostCall: fn.calls_host = true; return;
    case Flow::HostJump: fn.jumps_to_host = true; return;
    case Flow::AbsoluteJump: throw std::runtime_error(fn.name + " keeps an absolute jump");
    case Flow::Branch:
    case Flow::Call: break;
    }
    const uint32_t target = step.target & ~1u;
    if (step.flow == Flow::Branch && target >= s.value && target < s.value + s.size) {
        return; // within the function
    }
    const auto entry = entries.find(target);
    if (entry == entries.end()) {
        std::snprintf(where, sizeof where, " branches to 0x%08X, no function's entry", target);
        throw std::runtime_error(fn.name + where);
    }
    if (functions[entry->second].mips16 != ((step.target & 1) != 0)) {
        std::snprintf(where, sizeof where, " reaches 0x%08X in the other instruction set", target);
        throw std::runtime_error(fn.name + where);
    }
    const CallEdge edge{entry->second, step.flow == Flow::Branch};
    if (std::none_of(fn.calls.begin(), fn.calls.end(),
                     [&](const CallEdge& e) { return e.callee == edge.callee && e.tail == edge.tail; })) {
        fn.calls.push_back(edge);
    }
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
            report.functions.push_back(
                {function_name(s.name), s.value, s.mips16(), 0, 0, false, false, {}, {}});
        }
    }
    std::sort(report.functions.begin(), report.functions.end(),
              [](const FunctionStack& a, const FunctionStack& b) { return a.address < b.address; });
    std::map<uint32_t, size_t> entries;
    for (size_t i = 0; i < report.functions.size(); ++i) {
        entries[report.functions[i].address] = i;
    }

    const std::vector<DataRange> pools = literal_pools(elf);
    for (const Symbol& s : elf.symbols()) {
        if (s.type != STT_FUNC || !entries.contains(s.value)) {
            continue;
        }
        FunctionStack& fn = report.functions[entries[s.value]];
        FunctionCode code;
        try {
            code = walk_function(elf, s, pools);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(fn.name + ": " + e.what());
        }
        fn.frame = code.frame;
        for (const FlowStep& step : code.steps) {
            add_step(fn, s, step, entries, report.functions);
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
