#include "cpu_factory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "chip_map.h"
#include "emu_cpu.h"
#include "native_cpu.h"
#include "tool_error.h"

namespace sdsim {

namespace {

std::string hex(uint32_t value) {
    char text[11];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void check_placement(uint32_t at, size_t image_size) {
    if (at % 4 != 0) {
        throw ToolError("--at " + hex(at) + " is not word-aligned");
    }
    if (at < emu::IMAGE_SPACE_BASE && uint64_t{at} + image_size > emu::FLASH_BASE) {
        throw ToolError("--at " + hex(at) + " overlaps the host table (" + hex(emu::FLASH_BASE) + " to " +
                        hex(emu::IMAGE_SPACE_BASE - 1) + ")");
    }
    if (at < emu::FLASH_BASE || uint64_t{at} + image_size > uint64_t{emu::FLASH_BASE} + emu::FLASH_SIZE) {
        throw ToolError("an image of " + std::to_string(image_size) + " bytes at " + hex(at) +
                        " does not fit the flash (" + hex(emu::FLASH_BASE) + " to " +
                        hex(emu::FLASH_BASE + emu::FLASH_SIZE - 1) + ")");
    }
}

} // namespace

std::unique_ptr<sim::Cpu> make_cpu(const Options& options) {
    if (!options.target) {
        return std::make_unique<sim::NativeCpu>();
    }
    const std::string path = options.image.value_or(SDCARD_IMAGE_PATH);
    const uint32_t at = options.at.value_or(DEFAULT_PLACEMENT);
    if (!std::ifstream(path, std::ios::binary)) {
        throw ToolError("cannot open chip image '" + path + "': " + std::strerror(errno));
    }
    try {
        const std::vector<uint8_t> image = emu::EmuCpu::read_image(path);
        check_placement(at, image.size());
        auto cpu = std::make_unique<emu::EmuCpu>(image, at);
        cpu->set_interrupts(options.interrupts);
        return cpu;
    } catch (const emu::EmuFault& e) {
        throw ToolError(std::string("--target: ") + e.what());
    }
}

} // namespace sdsim
