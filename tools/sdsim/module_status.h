// What the module's status command (8) hands back, and how the tool says it.
#pragma once

#include <cstdint>
#include <string>

namespace sdsim {

struct ModuleStatus {
    int32_t pointer;   // the open file's pointer, -1 when none is open
    int32_t size;      // its size, -1 when none is open
    int32_t result;    // the last command's: 0, or the code of its first failed step
    uint32_t commands; // bit n set for each command n the image has

    bool has(int32_t mode) const { return mode >= 0 && mode < 32 && (commands >> mode & 1u) != 0; }
};

// The tool's name of a command number ("create"), or the number itself.
std::string command_name(int32_t mode);

// The three lines `sdsim status` prints: the open file, the last result, the commands.
std::string status_lines(const ModuleStatus& status);

// The same on one line, for a script's result line.
std::string status_line(const ModuleStatus& status);

} // namespace sdsim
