// Turns the linked module into code that runs wherever the host places it,
// and refuses images that could not.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "elf_file.h"

namespace target {

// Every reason an image cannot go on the chip, one line each.
class ImageRejected : public std::runtime_error {
  public:
    explicit ImageRejected(const std::vector<std::string>& problems);
    std::vector<std::string> problems;
};

struct RewriteSummary {
    uint32_t calls = 0;              // jal -> bal
    uint32_t jumps = 0;              // j -> b
    uint32_t load_offset_points = 0; // return points of getFPC calls
    uint32_t data_references = 0;    // constant data addressed through the load offset
};

// Checks that the image is read-only, complete and starts with main.
void check_image_layout(const ElfFile& elf);

// Rewrites every R_MIPS_26 call and jump into its PC-relative form and checks
// that no other absolute code address is left: the only code address the
// image may hold is the link-time return point of a getFPC call, and constant
// data may be addressed only by functions that take the load offset.
RewriteSummary make_position_independent(ElfFile& elf);

} // namespace target
