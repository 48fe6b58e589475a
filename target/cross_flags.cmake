# Compiler and linker settings of the chip image, shared by the image build and
# the checks that the build refuses what cannot run on the chip.
set(SDCARD_CROSS_CXX mipsel-linux-gnu-g++ CACHE STRING "C++ cross compiler for the chip image (MIPS32 little-endian)")
set(SDCARD_LINK_ADDRESS 0x9D020000)

# Size-optimised, freestanding M4K code with no jump tables, no $gp-relative
# data, no library calls the optimiser invents, and no unwind tables.
set(SDCARD_CROSS_FLAGS
  -march=m4k -EL -msoft-float -Os -std=c++20
  -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-jump-tables -fno-tree-switch-conversion -fno-tree-loop-distribute-patterns
  -mno-abicalls -fno-pic -G0 -mno-gpopt -fno-common
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -ffunction-sections -fdata-sections -fstack-usage
  -Wall -Wextra -Werror -Wconversion -Wshadow)

set(SDCARD_CROSS_LINK_FLAGS
  -march=m4k -EL -msoft-float -nostdlib -nostartfiles -static
  -Wl,--emit-relocs -Wl,--gc-sections -Wl,--no-undefined -Wl,--build-id=none
  -Wl,--defsym=SDCARD_LINK_ADDRESS=${SDCARD_LINK_ADDRESS})
