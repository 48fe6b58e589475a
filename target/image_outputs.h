// The files the host loader and the developer take from the linked image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elf_file.h"
#include "position_independence.h"
#include "stack_depth.h"

namespace target {

// The bytes to place in flash: every loaded section from the start of the
// image, gaps zero, padded to whole words.
std::vector<uint8_t> flash_bytes(const ElfFile& elf);

// One 32-bit little-endian word per line, eight hex digits.
std::string hex_words(const std::vector<uint8_t>& image);

// Sizes, the worst-case stack with its chain (the module's own frames, then
// with the host's services counted), and every function's frame.
std::string size_report(const ElfFile& elf, const std::vector<uint8_t>& image, const RewriteSummary& rewrite,
                        const StackReport& stack, const StackReport& with_host);

} // namespace target
