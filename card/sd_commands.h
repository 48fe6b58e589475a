// Command bytes as the driver passes them to send_cmd: 0x40 plus the index,
// and bit 7 set for an application command that needs CMD55 first (send_any_cmd).
#pragma once

#include <stdint.h>

constexpr uint8_t CMD0 = 0x40;   // go to idle state
constexpr uint8_t CMD1 = 0x41;   // MMC: start initialisation
constexpr uint8_t CMD8 = 0x48;   // send interface condition
constexpr uint8_t CMD16 = 0x50;  // set block length
constexpr uint8_t CMD17 = 0x51;  // read single block
constexpr uint8_t CMD24 = 0x58;  // write single block
constexpr uint8_t CMD55 = 0x77;  // application command follows
constexpr uint8_t CMD58 = 0x7A;  // read OCR
constexpr uint8_t CMD59 = 0x7B;  // CRC checking on or off
constexpr uint8_t ACMD41 = 0xE9; // SD: start initialisation
constexpr uint8_t APP_COMMAND = 0x80;

// Token that opens a data block in either direction.
constexpr uint8_t DATA_TOKEN = 0xFE;
