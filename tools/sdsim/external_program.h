// Running the disk tools that make card images (mkfs.fat, mtools).
#pragma once

#include <string>
#include <vector>

namespace sdsim {

// Runs the program with its output discarded; throws ToolError("cannot <purpose>: ...")
// when it cannot be started or does not succeed.
void run_program(const std::vector<std::string>& argv, const std::string& purpose);

} // namespace sdsim
