#include "sd_crc.h"

namespace sim {

uint8_t sd_crc7(const uint8_t* data, size_t count) {
    uint8_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool in = ((data[i] >> bit) & 1) != ((crc >> 6) & 1);
            crc = static_cast<uint8_t>((crc << 1) & 0x7F);
            if (in) {
                crc ^= 0x09;
            }
        }
    }
    return crc;
}

uint16_t sd_crc16(const uint8_t* data, size_t count) {
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

} // namespace sim
