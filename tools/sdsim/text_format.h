// Small conversions between the tool's text and the module's bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sdsim {

// A signed 32-bit decimal number; throws ToolError naming `what` otherwise.
int32_t parse_int32(const std::string& text, const std::string& what);

// The whole text as an unsigned number in `base` (0: C prefixes), or nothing
// when any of it is not part of one, it has a sign, or it does not fit.
std::optional<uint64_t> parse_unsigned(const std::string& text, int base);

// Bytes as a double-quoted C-style literal: printable ASCII as is, the rest escaped.
std::string quoted(const std::vector<uint8_t>& bytes);

// Console text as one line: the messages without their line ends, joined by ", ".
std::string one_line(const std::string& console);

// The lines of a text: split at LF, a CR before it dropped, no empty last line.
std::vector<std::string> split_lines(const std::string& text);

} // namespace sdsim

namespace sdsim {

// Undoes the escapes \\ \" \r \n \t \0 and \xHH of a script's text; throws ToolError on a broken one.
std::vector<uint8_t> unescape(const std::string& text);

} // namespace sdsim
