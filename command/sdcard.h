// The module's one entry point. On the chip the host calls main; the PC bench
// calls sdcard_main under its C++ name.
#pragma once

#include <stdint.h>

#if defined(__mips__)
#define SDCARD_ENTRY_SYMBOL __asm__("sdcard_command")
#else
#define SDCARD_ENTRY_SYMBOL
#endif

extern "C" void sdcard_main(int32_t* mode, uint8_t* p1, int32_t* p2, int32_t* p3,
                            int32_t* p4) SDCARD_ENTRY_SYMBOL;

#if defined(__mips__)
// The host calls main in the 32-bit instruction set, while the module's code
// is MIPS16e, whose 16-bit instructions take about a third fewer bytes. main
// goes over to sdcard_command with a jump whose target has the instruction-set
// bit that the link gives it: found PC-relatively, because the module runs at
// an address the link does not know (sdcard_entry_distance, which the linker
// script works out, is sdcard_command's distance from the label). The host's
// return address goes back into $ra in the jump's delay slot, so
// sdcard_command returns straight to the host, and the arguments and the
// stack are as the host left them. $t0 and $t1 are scratch registers under
// o32. Only the entry unit includes this header, so the image has one main.
asm(".pushsection .text.main, \"ax\", @progbits\n\t"
    ".align 2\n\t"
    ".globl main, sdcard_entry_point\n\t"
    ".type main, @function\n\t"
    ".set push\n\t"
    ".set nomips16\n\t"
    ".set noreorder\n"
    "main:\n\t"
    "move $t0, $ra\n\t"
    "bal sdcard_entry_point\n\t"
    " nop\n"
    "sdcard_entry_point:\n\t"
    "addiu $t1, $ra, %lo(sdcard_entry_distance)\n\t"
    "jr $t1\n\t"
    " move $ra, $t0\n\t"
    ".set pop\n\t"
    ".size main, . - main\n\t"
    ".popsection");
#endif
