// Helpers of the block loops, which keep SPI2 shifting without a pause: the
// next byte is written while the one before it still shifts, so it waits in
// the transmit buffer (standard buffer mode), and each received byte is taken
// as soon as it is complete, before the next one is, so the receive buffer
// never overflows.
#pragma once

#include <stdint.h>

#include "hw.h"
#include "sfr.h"

[[gnu::always_inline]] inline uint32_t take_received() {
    while ((reg_read(SPI2STAT) & SPI2STAT_SPIRBF) == 0) {
    }
    return reg_read(SPI2BUF) & 0xFF;
}

// One byte into the CRC16 of the SD bus (polynomial 0x1021, start value 0),
// by shifts: no table, so no constant data to reach through the load offset.
// Run over a block and the two CRC bytes after it, it ends at 0.
inline uint32_t crc16_step(uint32_t crc, uint32_t d) {
    crc = __builtin_bswap16(static_cast<uint16_t>(crc));
    crc ^= d;
    crc ^= (crc & 0xFF) >> 4;
    crc ^= (crc << 12) & 0xFFFF;
    crc ^= (crc & 0xFF) << 5;
    return crc;
}
