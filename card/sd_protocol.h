// The numbers of the SD/MMC card's SPI mode that the driver sends and tests,
// in one place (SD Physical Layer Simplified Specification, chapter 7).
#pragma once

#include <stdint.h>

// A card needs at least 74 clocks with chip select high before its first
// command: ten bytes give 80.
constexpr uint32_t POWER_UP_CLOCK_BYTES = 10;

// Command bytes as the driver passes them to send_cmd: 0x40 plus the index,
// and bit 7 set for an application command that needs CMD55 first (send_any_cmd).
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

// CRC7 of a command frame: the polynomial x^7 + x^3 + 1 kept in bits 7..1,
// and the end bit that closes every frame.
constexpr uint32_t CRC7_POLY_SHIFTED = 0x12;
constexpr uint32_t FRAME_END_BIT = 0x01;
// CMD59's argument that turns CRC checking on.
constexpr uint32_t CRC_ON = 1;

// R1, the response byte to every command. Bit 7 is 0 in a response, so a
// byte with it set is the bus still idle; 0 is "ready, no error".
constexpr uint32_t R1_READY = 0x00;
constexpr uint32_t R1_IDLE = 0x01;
constexpr uint32_t R1_NOT_A_RESPONSE = 0x80;

// CMD8's argument: 2.7-3.6 V (0x100) and the check pattern 0xAA, which a
// version 2 card echoes in the low 12 bits of its R7 (the driver compares 16).
constexpr uint32_t IF_COND_CHECK = 0x1AA;
constexpr uint32_t IF_COND_ECHO_MASK = 0xFFFF;

// OCR bit 30: in ACMD41's argument HCS (the host takes block-addressed
// cards), in the OCR that CMD58 reads CCS (this card is block-addressed).
constexpr uint32_t OCR_HCS = 1u << 30;
constexpr uint32_t OCR_CCS = 1u << 30;

// Data tokens. The start-block token opens a data block in either direction;
// the bus idles high between tokens and while the card is busy.
constexpr uint8_t DATA_TOKEN = 0xFE;
constexpr uint8_t BUS_IDLE = 0xFF;

// The data response after a written block: its low five bits, 0b00101 when
// the card took the block.
constexpr uint32_t DATA_RESPONSE_MASK = 0x1F;
constexpr uint32_t DATA_ACCEPTED = 0x05;

// A block is 512 bytes (CMD16 sets it on the cards whose length can
// change); 2 bytes of CRC16 follow it on the bus.
constexpr uint32_t BLOCK_BYTES = 512;
constexpr uint32_t BLOCK_CRC_BYTES = 2;
// A byte-addressed card takes a block's byte address: the sector shifted by 9.
constexpr uint32_t BLOCK_SHIFT = 9;
static_assert(1u << BLOCK_SHIFT == BLOCK_BYTES);
