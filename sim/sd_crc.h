// The two checksums of the SD bus: CRC7 closes a command frame, CRC16 (CCITT,
// start value 0) follows every data block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

uint8_t sd_crc7(const uint8_t* data, size_t count);
uint16_t sd_crc16(const uint8_t* data, size_t count);

// The closing byte of a command frame: CRC7 in bits 7..1, end bit 1.
inline uint8_t sd_frame_crc_byte(const uint8_t* first_five) {
    return static_cast<uint8_t>((sd_crc7(first_five, 5) << 1) | 1);
}

} // namespace sim
