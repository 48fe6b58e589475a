#include "backend.h"

#include "native_cpu.h"

namespace sdtest {

std::unique_ptr<sim::Cpu> make_cpu() { return std::make_unique<sim::NativeCpu>(); }

} // namespace sdtest
