#include "flash_placement.h"

#include <cstdio>

#include "chip_map.h"

namespace sdsim {

namespace {

constexpr uint32_t FLASH_OFFSET_MASK = emu::FLASH_SIZE - 1;
constexpr uint32_t PHYSICAL_MASK = 0x1FFFFFFF;
constexpr uint32_t KSEG1_FLASH_BASE = 0xBD000000;
constexpr uint32_t HOST_TABLE_SIZE = emu::IMAGE_SPACE_BASE - emu::FLASH_BASE;

} // namespace

std::string hex_address(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

uint32_t kseg0_view(uint32_t address) {
    return (address & PHYSICAL_MASK) | (emu::FLASH_BASE & ~PHYSICAL_MASK);
}

std::optional<std::string> placement_problem(uint32_t address, uint64_t size) {
    const uint32_t segment = address & ~FLASH_OFFSET_MASK;
    const uint32_t offset = address & FLASH_OFFSET_MASK;
    const std::string shown = hex_address(address);
    if (segment != emu::FLASH_BASE && segment != KSEG1_FLASH_BASE) {
        return shown + " is not in program flash: 0x9D000000 to 0x9D03FFFF, or 0xBD000000 to 0xBD03FFFF";
    }
    if (address % 4 != 0) {
        return shown + " is not word-aligned";
    }
    if (offset < HOST_TABLE_SIZE) {
        return shown + " overlaps the host table (the first 0x1000 bytes of flash)";
    }
    if (offset + size > emu::FLASH_SIZE) {
        return "an image of " + std::to_string(size) + " bytes at " + shown +
               " does not fit the flash, which ends at " + hex_address(segment + FLASH_OFFSET_MASK);
    }
    return std::nullopt;
}

} // namespace sdsim
