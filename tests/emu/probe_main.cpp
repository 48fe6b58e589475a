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
    PROBE_DEEP_STACK = 7,      // recursion p2 deep, 1 KiB per level
    PROBE_SPI = 8,             // SPI2 read too early and left unread; p1 gets what each read saw
    PROBE_STATUS_USE = 9,      // SPI2STAT read and examined in the way p2 picks (StatusUse)
    PROBE_OLD_BLOCK_LOOP = 10, // a 514-byte block in the standard-buffer loop; p1 gets the bytes
};

// How PROBE_STATUS_USE examines SPI2STAT, each right after the load.
enum StatusUse : int32_t {
    ANDI_SRMT = 0,
    EXT_RXBUFELM = 1,
    SHIFT_ANDI_TXBUFELM = 2,
    COMPARE_WHOLE = 3,
    ANDI_SPIRBF = 4,
    STORE_WHOLE = 5,
    SIGN_BRANCH = 6,
    ANDI_SRMT_ENHANCED = 7,
};

constexpr uint32_t SPI2CON_STANDARD = SPI2CON_MASTER_MODE3 & ~SPI2CON_ENHBUF;

void wait_for(uint32_t status_bit) {
    while ((reg_read(SPI2STAT) & status_bit) == 0) {
    }
}

void wait_while(uint32_t status_bit) {
    while ((reg_read(SPI2STAT) & status_bit) != 0) {
    }
}

void spi_timing(uint8_t* seen) {
    reg_write(SPI2CON, SPI2CON_STANDARD);
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
    wait_while(SPI2STAT_SPIBUSY);
    seen[5] = static_cast<uint8_t>(reg_read(SPI2STAT));
    seen[6] = static_cast<uint8_t>(reg_read(SPI2BUF));
}

// The instructions are written out so that the load's first consumer is
// exactly the one named, whatever the compiler would have made of it.
uint32_t examine_status(int32_t use, uint32_t* record) {
    reg_write(SPI2CON, 0); // the buffer mode may change only while SPI2 is off
    reg_write(SPI2CON, use == ANDI_SRMT_ENHANCED ? SPI2CON_MASTER_MODE3 : SPI2CON_STANDARD);
    uint32_t v = 0;
    if (use == ANDI_SRMT || use == ANDI_SRMT_ENHANCED) {
        asm volatile("lw %0, 0(%1)\n\tandi %0, %0, 0x80" : "=&r"(v) : "r"(SPI2STAT));
    } else if (use == EXT_RXBUFELM) {
        asm volatile("lw %0, 0(%1)\n\text %0, %0, 24, 5" : "=&r"(v) : "r"(SPI2STAT));
    } else if (use == SHIFT_ANDI_TXBUFELM) {
        asm volatile("lw %0, 0(%1)\n\tsrl %0, %0, 16\n\tandi %0, %0, 0x1F" : "=&r"(v) : "r"(SPI2STAT));
    } else if (use == COMPARE_WHOLE) {
        asm volatile("lw %0, 0(%1)\n\tsltiu %0, %0, 1" : "=&r"(v) : "r"(SPI2STAT));
    } else if (use == ANDI_SPIRBF) {
        asm volatile("lw %0, 0(%1)\n\tandi %0, %0, 1" : "=&r"(v) : "r"(SPI2STAT));
    } else if (use == STORE_WHOLE) {
        asm volatile("lw %0, 0(%1)\n\tsw %0, 0(%2)" : "=&r"(v) : "r"(SPI2STAT), "r"(record) : "memory");
    } else if (use == SIGN_BRANCH) {
        asm volatile("lw %0, 0(%1)\n\tbltz %0, 1f\n\tnop\n1:" : "=&r"(v) : "r"(SPI2STAT));
    }
    return v;
}

// The block loop the module ran in standard buffer mode: the next byte is
// written while one shifts, and each byte is taken once SPIRBF says it is in.
void old_block_loop(uint8_t* block) {
    constexpr uint32_t BLOCK_WITH_CRC = 514;
    reg_write(SPI2CON, SPI2CON_STANDARD);
    reg_write(SPI2BRG, SPI2BRG_FAST);
    reg_write(SPI2BUF, 0xFF);
    for (uint32_t n = 0; n < BLOCK_WITH_CRC; n++) {
        if (n != BLOCK_WITH_CRC - 1) {
            reg_write(SPI2BUF, 0xFF);
        }
        wait_for(SPI2STAT_SPIRBF);
        block[n] = static_cast<uint8_t>(reg_read(SPI2BUF));
    }
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
    } else if (probe == PROBE_STATUS_USE) {
        *p4 = static_cast<int32_t>(examine_status(*p2, reinterpret_cast<uint32_t*>(p3)));
    } else if (probe == PROBE_OLD_BLOCK_LOOP) {
        old_block_loop(p1);
    }
}
