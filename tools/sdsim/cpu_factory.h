// The CPU that runs the module: its native build, or a chip image in the emulator.
#pragma once

#include <memory>

#include "cpu.h"
#include "options.h"

namespace sdsim {

// Where --target places the image when --at is not given: not the image's link
// address, so every --target run also proves the image position independent.
constexpr uint32_t DEFAULT_PLACEMENT = 0x9D008000;

// Throws ToolError when the requested CPU or placement is not available.
std::unique_ptr<sim::Cpu> make_cpu(const Options& options);

} // namespace sdsim
