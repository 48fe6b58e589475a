// Problems with the tool's own input (arguments, files, helpers it runs): each
// ends the run with one line on stderr and exit status 2.
#pragma once

#include <stdexcept>
#include <string>

namespace sdsim {

class ToolError : public std::runtime_error {
  public:
    explicit ToolError(const std::string& what) : std::runtime_error(what) {}
};

// Exit statuses.
constexpr int EXIT_QUIET = 0;    // the module printed nothing
constexpr int EXIT_MESSAGES = 1; // the module printed at least one message
constexpr int EXIT_TOOL = 2;     // usage error or a problem with the tool's own input

} // namespace sdsim
