// Helpers of the byte exchange and the block loops. SPI2 runs with its
// enhanced buffer: the master clocks only bytes that were written, and each
// received byte waits in a 16-byte receive FIFO until it is read. A loop that
// never has more bytes written and not yet read than that FIFO holds can be
// stopped between any two instructions for any time (a host interrupt) and
// lose nothing: the clock just stops once the transmit FIFO is empty.
#pragma once

#include <stdint.h>

#include "hw.h"
#include "sfr.h"

// Waits for the next received byte and takes it. It always comes: every byte
// this waits for was written, and none can have been discarded.
[[gnu::always_inline]] MIPS32_CODE inline uint32_t take_received() {
    while ((reg_read(SPI2STAT) & SPI2STAT_SPIRBE) != 0) {
    }
    return reg_read(SPI2BUF) & 0xFF;
}

// One byte into the CRC16 of the SD bus (polynomial 0x1021, start value 0),
// by shifts: no table, so no constant data to reach through the load offset.
// Run over a block and the two CRC bytes after it, it ends at 0.
MIPS32_CODE inline uint32_t crc16_step(uint32_t crc, uint32_t d) {
    crc = __builtin_bswap16(static_cast<uint16_t>(crc));
    crc ^= d;
    crc ^= (crc & 0xFF) >> 4;
    crc ^= (crc << 12) & 0xFFFF;
    crc ^= (crc & 0xFF) << 5;
    return crc;
}
