// Little-endian loads and stores for reading on-card structures and building them by hand in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testsupport {

inline uint32_t get16(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8u); }

inline uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
    return get16(b, at) | (get16(b, at + 2) << 16u);
}

inline void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put16(b, at, v);
    put16(b, at + 2, v >> 16);
}

} // namespace testsupport
