// The CPU that runs the module: its native build, or the chip image in the emulator.
#pragma once

#include <memory>

#include "cpu.h"

namespace sdsim {

// Throws ToolError when the requested CPU is not available in this build.
std::unique_ptr<sim::Cpu> make_cpu(bool target);

} // namespace sdsim
