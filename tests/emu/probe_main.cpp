// A small chip image that exercises the emulator itself: argument passing, the
// load offset of errstring, and each way an image can go wrong on the chip.
#include <stdint.h>

#include "errstring.h"
#include "hw.h"
#include "sdcard.h"
#include "sfr.h"

namespace {

enum Probe : int32_t {
    PROBE_MESSAGE = 0,   // errstring(p1[0])
    PROBE_ARGUMENTS = 1, // *p4 = *p2 + *p3, p1[0] = number of the call's fifth argument
    PROBE_FLASH_WRITE = 2,
    PROBE_RUNAWAY = 3,
    PROBE_UNMAPPED = 4,
    PROBE_NULL = 5,
    PROBE_UNALIGNED = 6,
    PROBE_DEEP_STACK = 7, // recursion p2 deep, 1 KiB per level
    PROBE_SPI = 8,        // SPI2 read too early and left unread; p1 gets what each read saw
};

void wait_for(uint32_t status_bit) {
    while ((reg_read(SPI2STAT) & status_bit) == 0) {
    }
}

void spi_timing(uint8_t* seen) {
    reg_write(SPI2CON, SPI2CON_MASTER_MODE3 & ~SPI2CON_ENHBUF); // standard buffer mode
    reg_write(SPI2BRG, SPI2BRG_FAST);
    reg_write(SPI2BUF, 0x11);
    wait_for(SPI2STAT_SPIRBF);
    seen[0] = static_cast<uint8_t>(reg_read(SPI2BUF));
    reg_write(SPI2BUF, 0x22);
    seen[1] = static_cast<uint8_t>(reg_read(SPI2BUF)); // before the byte is done
    seen[2] = static_cast<uint8_t>(reg_read(SPI2STAT));
    wait_for(SPI2STAT_SPIRBF);
    seen[3] = static_cast<uint8_t>(reg_read(SPI2BUF));
    reg_write(SPI2BUF, 0x33);
    reg_write(SPI2BUF, 0x44); // waits in the transmit buffer
    seen[4] = static_cast<uint8_t>(reg_read(SPI2STAT));
    wait_for(SPI2STAT_SRMT);
    seen[5] = static_cast<uint8_t>(reg_read(SPI2STAT));
    seen[6] = static_cast<uint8_t>(reg_read(SPI2BUF));
}

// Each level keeps a kilobyte alive across the next call.
__attribute__((noinline)) uint32_t deep(uint32_t levels) {
    volatile uint8_t frame[1024];
    frame[0] = static_cast<uint8_t>(levels);
    const uint32_t below = levels == 0 ? 0 : deep(levels - 1);
    return below + frame[0];
}

} // namespace

extern "C" void sdcard_main(int32_t* mode, uint8_t* p1, int32_t* p2, int32_t* p3, int32_t* p4) {
    const int32_t probe = *mode;
    if (probe == PROBE_MESSAGE) {
        errstring(p1[0]);
    } else if (probe == PROBE_ARGUMENTS) {
        *p4 = *p2 + *p3;
    } else if (probe == PROBE_FLASH_WRITE) {
        *reinterpret_cast<volatile uint32_t*>(HOST_TABLE_ADDRESS) = 0;
    } else if (probe == PROBE_RUNAWAY) {
        while (reg_read(SPI2CON) != 0xFFFFFFFF) {
        }
    } else if (probe == PROBE_UNMAPPED) {
        *p4 = static_cast<int32_t>(*reinterpret_cast<volatile uint32_t*>(0x9D100000));
    } else if (probe == PROBE_NULL) {
        *p4 = *reinterpret_cast<volatile int32_t*>(static_cast<uintptr_t>(*p2));
    } else if (probe == PROBE_UNALIGNED) {
        *p4 = *reinterpret_cast<volatile int32_t*>(p1 + 1);
    } else if (probe == PROBE_DEEP_STACK) {
        *p4 = static_cast<int32_t>(deep(static_cast<uint32_t>(*p2)));
    } else if (probe == PROBE_SPI) {
        spi_timing(p1);
    }
}
