// The end-to-end command tests on the chip image in the emulator, placed at
// the address this executable was built for (SDCARD_EMU_PLACE).
#include "backend.h"
#include "chip_images.h"
#include "emu_cpu.h"

namespace sdtest {

std::unique_ptr<sim::Cpu> make_cpu() {
    return std::make_unique<emu::EmuCpu>(emutest::module_image(), SDCARD_EMU_PLACE);
}

} // namespace sdtest
