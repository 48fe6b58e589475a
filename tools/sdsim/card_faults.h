// The faults `--fault FAULT` puts on the virtual card, so a user can rehearse
// what a failing card, a power cut or a glitch on the bus does to a command.
#pragma once

#include <string>
#include <vector>

#include "sd_card.h"

namespace sdsim {

struct FaultPlan {
    std::vector<std::string> given; // as given, for the report
    sim::SdCardFaults faults;
    bool no_card = false;
};

// Adds one FAULT to the plan; throws ToolError for one it does not know.
void add_fault(FaultPlan& plan, const std::string& given);

// The faults --help lists.
const char* fault_help();

} // namespace sdsim
