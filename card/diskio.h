// SD/MMC card driver in SPI mode: byte exchange, command frames, start-up,
// partial-sector reads and the streamed sector write.
#pragma once

#include <stdint.h>

#include "sdtypes.h"

uint8_t rcv_spi();
uint8_t xmit_spi(uint8_t d);
uint32_t send_cmd(uint8_t cmd, uint32_t arg);
// The same for a command byte with bit 7 set: CMD55 first, then the command
// itself only when the card took CMD55. The data path never needs one, so its
// frames stay flat.
uint32_t send_any_cmd(uint8_t cmd, uint32_t arg);

DSTATUS disk_initialize();
DRESULT disk_readp(uint8_t* buff, uint32_t sector, uint32_t offset, uint32_t count);
DRESULT disk_writep(const uint8_t* buff, uint32_t sc);
