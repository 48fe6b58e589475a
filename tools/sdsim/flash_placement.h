// Where a chip image may sit in flash, the rule the build's configure and
// post-link checks keep too (target/flash_placement.cmake): KSEG0 (0x9D...) or
// KSEG1 (0xBD...), word-aligned, clear of the host table, inside the 256 KiB.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sdsim {

// Why `size` bytes cannot sit at `address`, or nothing when they can.
std::optional<std::string> placement_problem(uint32_t address, uint64_t size);

// The KSEG0 address of the same flash: KSEG1 is the uncached view of the same
// bytes, and a flash address in an Intel HEX file is the physical one.
uint32_t kseg0_view(uint32_t address);

std::string hex_address(uint32_t value);

} // namespace sdsim
