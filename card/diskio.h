// SD/MMC card driver in SPI mode: byte exchange, command frames, start-up,
// partial-sector reads and the streamed sector write.
#pragma once

#include <stdint.h>

#include "isa.h"
#include "sdtypes.h"

MIPS32_CODE uint8_t rcv_spi();
MIPS32_CODE uint8_t xmit_spi(uint8_t d);
uint32_t send_cmd(uint8_t cmd, uint32_t arg);
// The same for a command byte with bit 7 set: CMD55 first, then the command
// itself only when the card took CMD55. The data path never needs one, so its
// frames stay flat.
uint32_t send_any_cmd(uint8_t cmd, uint32_t arg);

DSTATUS disk_initialize();
// Reads `count` bytes from `offset` of a sector into `buff`; the result is a
// DRESULT. With read_run(width) added to `count` (width 2 or 4) a successful
// result holds, from bit READ_RUN_SHIFT up, the number of width-byte
// little-endian words that follow the kept ones in the sector and go on
// counting up by one from the last kept word: what a FAT sector tells of the
// clusters after an entry, read while the block streams by anyway.
constexpr uint32_t READ_RUN_SHIFT = 16;
constexpr uint32_t read_run(uint32_t width) { return width << READ_RUN_SHIFT; }
uint32_t disk_readp(uint8_t* buff, uint32_t sector, uint32_t offset, uint32_t count);
// The streamed sector write, one entry for its three steps, told apart by
// its arguments: with `buff` it sends `sc` bytes of the block in progress
// (what passes the block's 512 is dropped); without, a non-zero `sc` starts
// the block of sector `sc` and 0 finishes the block in progress (its unsent
// rest as zeros, then the CRC and the card's answer). So no block can start
// at sector 0 through this call: whatever a corrupt volume makes of dsect,
// the in-place write of the open file (command 3) never writes the card's
// first sector, as the README promises. The growing image's FAT and
// directory writes go through disk_write_sector, which takes any sector:
// there the mount's checks keep sector 0 out.
DRESULT disk_writep(const uint8_t* buff, uint32_t sc);
// A whole sector written at once: start, its 512 bytes, finish (only where files grow).
DRESULT disk_write_sector(uint32_t sector, const uint8_t* data);
