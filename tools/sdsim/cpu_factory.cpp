#include "cpu_factory.h"

#include "native_cpu.h"
#include "tool_error.h"

namespace sdsim {

std::unique_ptr<sim::Cpu> make_cpu(bool target) {
    if (target) {
        throw ToolError("--target is not available yet: this build has no emulated chip image");
    }
    return std::make_unique<sim::NativeCpu>();
}

} // namespace sdsim
