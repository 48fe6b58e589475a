// The module's one entry point. On the chip its symbol is main; the PC bench
// calls the same function under its C++ name.
#pragma once

#include <stdint.h>

#if defined(__mips__)
#define SDCARD_ENTRY_SYMBOL __asm__("main")
#else
#define SDCARD_ENTRY_SYMBOL
#endif

extern "C" void sdcard_main(int32_t* mode, uint8_t* p1, int32_t* p2, int32_t* p3,
                            int32_t* p4) SDCARD_ENTRY_SYMBOL;
