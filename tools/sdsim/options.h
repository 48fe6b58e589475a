// The command line of sdsim.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sdsim {

enum class CardKind { Sdhc, Sdsc, Sdv1, Mmc };

struct Options {
    std::optional<std::string> card; // image file; the demo card when absent
    CardKind kind = CardKind::Sdhc;
    int package = 28;
    bool target = false;
    bool help = false;
    std::string command;
    std::vector<std::string> args;
};

// Throws ToolError for anything it cannot take.
Options parse_options(const std::vector<std::string>& argv);

} // namespace sdsim
