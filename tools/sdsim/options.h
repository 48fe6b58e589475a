// The command line of sdsim. Options may stand anywhere among the command's
// words, as `--name VALUE` or `--name=VALUE`; `--` ends the options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "card_faults.h"
#include "card_timing.h"
#include "interrupt_load.h"

namespace sdsim {

enum class CardKind { Sdhc, Sdsc, Sdv1, Mmc };

struct Options {
    std::optional<std::string> card; // image file; the demo card when absent
    CardKind kind = CardKind::Sdhc;
    int package = 28;
    bool target = false;
    std::optional<std::string> trace;               // VCD file of the card bus
    std::optional<std::pair<int, int>> trace_calls; // --trace only these module calls, from 1
    std::optional<std::string> image;           // --target: the chip image to run; the built one when absent
    std::optional<uint32_t> at;                 // --target: its flash address
    std::vector<emu::InterruptLoad> interrupts; // --target: the host's interrupt loads
    bool long_listing = false;                  // ls: sizes and long names
    FaultPlan faults;                           // --fault, on the virtual card
    sim::CardProfile card_timing = sim::CardProfile::Typical;
    bool help = false; // the whole help, or the command's own when a command is named
    bool version = false;
    std::string command;
    std::vector<std::string> args;
};

// One option. Adding one takes a field in Options and a row in option_table();
// --help lists the rows.
struct OptionSpec {
    const char* name;  // "--card"
    const char* value; // the value's name in --help ("IMAGE"); nullptr for a flag
    const char* help;  // lines for --help, each ending in '\n'
    void (*apply)(Options& options, const std::string& value);
};
const std::vector<OptionSpec>& option_table();

// The one-letter form of an option ("-l" for "--long"), or "" when it has none.
std::string short_form(const std::string& name);

// Throws ToolError for anything it cannot take.
Options parse_options(const std::vector<std::string>& argv);

} // namespace sdsim
