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

// The reader of stdout or stderr went away (sdsim cat FILE | head): the run
// stops there and ends quietly, as other tools do.
class ReaderGone : public ToolError {
  public:
    using ToolError::ToolError;
};

// Exit statuses.
constexpr int EXIT_QUIET = 0;    // the module printed nothing and no data was lost
constexpr int EXIT_MESSAGES = 1; // the module printed a message, or a call lost data the user gave
constexpr int EXIT_TOOL = 2;     // usage error or a problem with the tool's own input

} // namespace sdsim
