// Byte offsets of the records in the host's state block. The card driver's
// words (STATE_WC, STATE_WRITE_CRC, STATE_CARD_KIND) sit at the end with the
// command layer's STATE_APPEND_POS among them; state.h lays out the whole
// block and checks it against these offsets.
#pragma once

#include <stdint.h>

constexpr uint32_t STATE_BLOCK_SIZE = 256;
constexpr uint32_t STATE_FATFS = 0x50;       // FATFS: the mounted volume and the open file, to 0x9F at most
constexpr uint32_t STATE_FILEINFO = 0xA0;    // FILINFO: the entry last listed
constexpr uint32_t STATE_DIRFS = 0xB8;       // DIR: the directory being listed
constexpr uint32_t STATE_DIRFS_ROOM = 0x28;  // room for the DIR of every image
constexpr uint32_t STATE_LAST_RESULT = 0xE0; // uint8_t: the status command's result of the last command
constexpr uint32_t STATE_NAME = 0xE4;        // 16 bytes: the name of the call being run
constexpr uint32_t STATE_WC = 0xF4; // uint16_t: bytes the card still expects in the block being written
constexpr uint32_t STATE_WRITE_CRC = 0xF6;  // uint16_t: CRC16 of the bytes of that block sent so far
constexpr uint32_t STATE_APPEND_POS = 0xF8; // int32_t: where a write with a negative position goes
constexpr uint32_t STATE_CARD_KIND = 0xFC;  // uint32_t
