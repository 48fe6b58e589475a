#include "cpu_factory.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "emu_cpu.h"
#include "flash_placement.h"
#include "intel_hex.h"
#include "native_cpu.h"
#include "tool_error.h"

namespace sdsim {

namespace {

struct PlacedImage {
    std::vector<uint8_t> bytes;
    uint32_t at;
};

std::vector<uint8_t> read_image_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ToolError("cannot open chip image '" + path + "': " + std::strerror(errno));
    }
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    if (in.bad()) {
        throw ToolError("cannot read chip image '" + path + "'");
    }
    return bytes;
}

// One of the build's three images by its name, else the file named.
std::string image_path(const Options& options) {
    const std::string image = options.image.value_or("standard");
    if (image == "readonly") {
        return SDCARD_READ_ONLY_IMAGE_PATH;
    }
    if (image == "standard") {
        return SDCARD_IMAGE_PATH;
    }
    return image == "growing" ? SDCARD_GROWING_IMAGE_PATH : image;
}

// A flat binary goes where --at says; Intel HEX where its own addresses say,
// and a --at given beside it must name the same flash.
PlacedImage place(const Options& options) {
    const std::string path = image_path(options);
    std::vector<uint8_t> file = read_image_file(path);
    if (!is_intel_hex(file)) {
        return {std::move(file), options.at.value_or(DEFAULT_PLACEMENT)};
    }
    HexImage hex = parse_intel_hex(file);
    const uint32_t at = kseg0_view(hex.address);
    if (options.at && kseg0_view(*options.at) != at) {
        throw ToolError("--at " + hex_address(*options.at) + " disagrees with " + path +
                        ", which places the image at " + hex_address(hex.address) + " (" + hex_address(at) +
                        "); leave --at out or give that address");
    }
    return {std::move(hex.bytes), options.at.value_or(at)};
}

} // namespace

std::unique_ptr<sim::Cpu> make_cpu(const Options& options) {
    if (!options.target) {
        return std::make_unique<sim::NativeCpu>();
    }
    const PlacedImage image = place(options);
    if (const std::optional<std::string> problem = placement_problem(image.at, image.bytes.size())) {
        throw ToolError((options.at ? "--at: " : image_path(options) + ": ") + *problem);
    }
    try {
        auto cpu = std::make_unique<emu::EmuCpu>(image.bytes, kseg0_view(image.at));
        cpu->set_interrupts(options.interrupts);
        return cpu;
    } catch (const emu::EmuFault& e) {
        throw ToolError(std::string("--target: ") + e.what());
    }
}

} // namespace sdsim
