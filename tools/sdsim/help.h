#pragma once

#include <string>

namespace sdsim {

// The text of `sdsim --help`.
std::string help_text();

// The text of `sdsim COMMAND --help`; COMMAND is one the tool knows.
std::string command_help_text(const std::string& command);

// The text of `sdsim --version`.
std::string version_text();

} // namespace sdsim
