// Byte offsets, within the host's state block, of the words the card driver
// keeps there. The command layer lays out the rest of the block around them.
#pragma once

#include <stdint.h>

constexpr uint32_t STATE_BLOCK_SIZE = 256;
constexpr uint32_t STATE_WC = 0xF4; // uint16_t: bytes the card still expects in the block being written
constexpr uint32_t STATE_WRITE_CRC = 0xF6; // uint16_t: CRC16 of the bytes of that block sent so far
constexpr uint32_t STATE_APPEND_POS = 0xF8; // int32_t
constexpr uint32_t STATE_CARD_KIND = 0xFC;  // uint32_t
