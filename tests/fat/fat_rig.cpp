#include "fat_rig.h"

#include <algorithm>

namespace fattest {

std::vector<uint32_t> FatRig::args(uint8_t index) const {
    std::vector<uint32_t> out;
    for (const auto& c : card.card.commands()) {
        if (c.index == index && !c.app) {
            out.push_back(c.arg);
        }
    }
    return out;
}

size_t FatRig::reads_in(uint32_t first, uint32_t n) const {
    size_t hits = 0;
    for (uint32_t a : args(17)) {
        hits += a - first < n ? 1 : 0;
    }
    return hits;
}

std::vector<uint8_t> read_file(FATFS& fs, const std::string& path, uint32_t chunk, FRESULT* res) {
    std::vector<uint8_t> data;
    FRESULT r = pf_open(&fs, path.c_str());
    std::vector<uint8_t> piece(chunk);
    while (r == FR_OK) {
        uint32_t br = 0;
        r = pf_read(&fs, piece.data(), chunk, &br);
        data.insert(data.end(), piece.begin(), piece.begin() + br);
        if (br < chunk) {
            break;
        }
    }
    if (res) {
        *res = r;
    }
    return data;
}

std::vector<std::string> list_dir(FATFS& fs, const std::string& path, FRESULT* res) {
    std::vector<std::string> names;
    DIR dj{};
    FRESULT r = pf_opendir(&fs, &dj, path.c_str());
    while (r == FR_OK) {
        FILINFO fno{};
        r = pf_readdir(&fs, &dj, &fno);
        if (r != FR_OK || fno.fname[0] == 0) {
            break;
        }
        names.emplace_back(fno.fname);
    }
    if (res) {
        *res = r;
    }
    return names;
}

size_t differing(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    size_t n = 0;
    const uint8_t* pa = a.data();
    const uint8_t* pb = b.data();
    for (size_t i = std::min(a.size(), b.size()); i > 0; i--) {
        n += *pa++ != *pb++ ? 1 : 0;
    }
    return n + (a.size() > b.size() ? a.size() - b.size() : b.size() - a.size());
}

} // namespace fattest
