// The images the build made for the emulator, and where the tests place them.
#pragma once

#include <cstdint>
#include <vector>

#include "emu_cpu.h"

namespace emutest {

constexpr uint32_t LINK_ADDRESS = SDCARD_LINK_ADDRESS;
// Below and above the link address, neither a multiple of the other's distance.
constexpr uint32_t PLACE_LOW = 0x9D004000;
constexpr uint32_t PLACE_HIGH = 0x9D031A40;
static_assert(PLACE_LOW != LINK_ADDRESS && PLACE_HIGH != LINK_ADDRESS);

inline const std::vector<uint8_t>& module_image() {
    static const std::vector<uint8_t> image = emu::EmuCpu::read_image(SDCARD_IMAGE_PATH);
    return image;
}

inline const std::vector<uint8_t>& probe_image() {
    static const std::vector<uint8_t> image = emu::EmuCpu::read_image(PROBE_IMAGE_PATH);
    return image;
}

} // namespace emutest
