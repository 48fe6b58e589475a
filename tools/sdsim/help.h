#pragma once

#include <string>

namespace sdsim {

// The text of `sdsim --help`.
std::string help_text();

} // namespace sdsim
