#include "cpu_factory.h"

#include "emu_cpu.h"
#include "native_cpu.h"
#include "tool_error.h"

namespace sdsim {

namespace {

// Not the image's link address, so every --target run also proves the image
// position independent.
constexpr uint32_t TARGET_PLACEMENT = 0x9D008000;

} // namespace

std::unique_ptr<sim::Cpu> make_cpu(bool target) {
    if (!target) {
        return std::make_unique<sim::NativeCpu>();
    }
    try {
        return std::make_unique<emu::EmuCpu>(emu::EmuCpu::read_image(SDCARD_IMAGE_PATH), TARGET_PLACEMENT);
    } catch (const emu::EmuFault& e) {
        throw ToolError(std::string("--target: ") + e.what());
    }
}

} // namespace sdsim
