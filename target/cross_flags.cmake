# Compiler and linker settings of the chip image, shared by the image build and
# the checks that the build refuses what cannot run on the chip.
set(SDCARD_CROSS_CXX mipsel-linux-gnu-g++ CACHE STRING "C++ cross compiler for the chip image (MIPS32 with MIPS16e, little-endian)")
set(SDCARD_LINK_ADDRESS 0x9D020000)

# Size-optimised, freestanding M4K code with no jump tables, no $gp-relative
# data, no library calls the optimiser invents, and no unwind tables. The
# module is optimised whole at the link, inlining only what shrinks it, with
# whole-frame prologues (smaller than wrapped ones here) and no zero-division
# traps (the code guards every division by a variable itself). The five
# passes turned off last each copy code to save a branch or a register move
# (jump threading, hoisting out of loops and across branches); off, the image
# is about 180 bytes smaller and the block loops keep their speed.
#
# The code is MIPS16e (-mips16), a third smaller than 32-bit code; what must
# be 32-bit says so (include/isa.h). MIPS16e has no PC-relative call, so the
# post-link step turns each jal and its delay slot into `addiu v0, pc` and
# `jalrc v0`: the slot must stay empty (-fno-delayed-branch), and no value may
# live in v0 across a call, which the interprocedural register allocation
# would otherwise allow where it sees that the callee leaves v0 alone
# (-fno-ipa-ra).
set(SDCARD_CROSS_FLAGS
  -march=m4k -mips16 -EL -msoft-float -Os -std=c++20 -fno-delayed-branch -fno-ipa-ra
  -flto -fipa-pta -mno-check-zero-division -fno-shrink-wrap -finline-limit=0 -fno-partial-inlining
  -fno-thread-jumps -fno-move-loop-invariants -fno-tree-dominator-opts -fno-tree-loop-im -fno-code-hoisting
  -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics
  -fno-jump-tables -fno-tree-switch-conversion -fno-tree-loop-distribute-patterns
  -mno-abicalls -fno-pic -G0 -mno-gpopt -fno-common
  -fno-asynchronous-unwind-tables -fno-unwind-tables
  -ffunction-sections -fdata-sections
  -Wall -Wextra -Werror -Wconversion -Wshadow)

# The code is generated at the link, so the link takes every compile flag too.
set(SDCARD_CROSS_LINK_FLAGS
  ${SDCARD_CROSS_FLAGS} -flto-partition=one -nostdlib -nostartfiles -static
  -Wl,--emit-relocs -Wl,--gc-sections -Wl,--no-undefined -Wl,--build-id=none
  -Wl,--defsym=SDCARD_LINK_ADDRESS=${SDCARD_LINK_ADDRESS})
