// The files the host loader and the developer take from the linked image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "elf_file.h"
#include "position_independence.h"

namespace target {

// The bytes to place in flash: every loaded section from the start of the
// image, gaps zero, padded to whole words.
std::vector<uint8_t> flash_bytes(const ElfFile& elf);

// One 32-bit little-endian word per line, eight hex digits.
std::string hex_words(const std::vector<uint8_t>& image);

struct StackFrame {
    std::string function;
    uint32_t bytes;
    std::string kind; // static, dynamic, bounded
};

// Reads gcc's -fstack-usage files: "file:line:col:function<TAB>bytes<TAB>kind".
std::vector<StackFrame> read_stack_usage(const std::vector<std::string>& paths);

std::string size_report(const ElfFile& elf, const std::vector<uint8_t>& image, const RewriteSummary& rewrite,
                        std::vector<StackFrame> frames);

} // namespace target
