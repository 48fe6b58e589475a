// What the card's torn-write setting may leave in the sector being programmed
// when the power goes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sd_card.h"

namespace integrity {

// What a torn sector may hold: all erased, all zeros, or the new bytes up to a
// point and erased after it.
inline bool torn_as_set(const std::vector<uint8_t>& got, const std::vector<uint8_t>& fresh,
                        sim::TornWrite mode) {
    switch (mode) {
    case sim::TornWrite::Old: return false;
    case sim::TornWrite::Erased:
        return std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == 0xFF; });
    case sim::TornWrite::Zeros:
        return std::all_of(got.begin(), got.end(), [](uint8_t b) { return b == 0x00; });
    case sim::TornWrite::Mixed: {
        size_t n = 0;
        while (n < got.size() && got[n] == fresh[n]) {
            ++n;
        }
        return std::all_of(got.begin() + static_cast<std::ptrdiff_t>(n), got.end(),
                           [](uint8_t b) { return b == 0xFF; });
    }
    }
    return false;
}

} // namespace integrity
