// The CPU that end-to-end tests run the module on. The same test sources build
// once per backend: the module's native build, or the chip image in the emulator.
#pragma once

#include <memory>

#include "cpu.h"

namespace sdtest {

std::unique_ptr<sim::Cpu> make_cpu();

} // namespace sdtest
