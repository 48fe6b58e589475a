// Which instruction set a function of the chip image is built in.
#pragma once

#if defined(__mips__)
// The module's code is MIPS16e, whose 16-bit instructions take about a third
// fewer bytes than the 32-bit set. A function that reads SPI2's status runs in
// the 32-bit set: its polling loops keep the bus busy, and the emulator checks
// which status bits they examine. A function can be inlined only into one of
// its own set, so the register accesses are 32-bit too, and MIPS16e code
// calls them.
#define MIPS32_CODE [[gnu::nomips16]]
#else
#define MIPS32_CODE
#endif
