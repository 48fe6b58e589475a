#include "crafted_volume.h"

#include <algorithm>
#include <stdexcept>

#include "little_endian.h"

namespace fattest {

using testsupport::put16;
using testsupport::put32;

CraftedVolume::CraftedVolume(const BootFields& boot, int bits, uint32_t bsect)
    : boot_(boot), bits_(bits), bsect_(bsect) {
    uint32_t total = boot.total;
    if (total == 0) {
        total =
            boot.rsvd + boot.fatsz * boot.nfats + (boot.root_entries + 15u) / 16 + boot.clusters * boot.csize;
    }
    const uint64_t last_cluster_end = uint64_t{database()} + uint64_t{boot.clusters} * boot.csize;
    image_.assign((std::max<uint64_t>(bsect + total, last_cluster_end) + 1) * 512, 0);

    const size_t b = size_t{bsect} * 512;
    image_[b] = 0xEB;
    image_[b + 1] = 0x3C;
    image_[b + 2] = 0x90;
    put16(image_, b + 11, 512);
    image_[b + 13] = boot.csize;
    put16(image_, b + 14, boot.rsvd);
    image_[b + 16] = boot.nfats;
    put16(image_, b + 17, boot.root_entries);
    if (total < 0x10000) {
        put16(image_, b + 19, total);
    } else {
        put32(image_, b + 32, total);
    }
    image_[b + 21] = 0xF8;
    if (bits == 32) {
        put32(image_, b + 36, boot.fatsz);
        put32(image_, b + 44, boot.root_clus);
    } else {
        put16(image_, b + 22, boot.fatsz);
    }
    if (boot.fa54) {
        image_[b + 54] = 'F';
        image_[b + 55] = 'A';
    }
    if (boot.fa82) {
        image_[b + 82] = 'F';
        image_[b + 83] = 'A';
    }
    put16(image_, b + 510, 0xAA55);
    set_fat(0, 0xFFFFFF8);
    set_fat(1, 0xFFFFFFF);
}

void CraftedVolume::set_fat(uint32_t clst, uint32_t value) {
    const size_t fat = size_t{fatbase()} * 512;
    switch (bits_) {
    case 12: {
        const size_t at = fat + clst + clst / 2;
        const uint32_t old = image_[at] | (image_[at + 1] << 8);
        const uint32_t v =
            (clst & 1) ? (old & 0x000F) | ((value & 0xFFF) << 4) : (old & 0xF000) | (value & 0xFFF);
        put16(image_, at, v);
        break;
    }
    case 16: put16(image_, fat + 2 * clst, value); break;
    case 32: put32(image_, fat + 4 * clst, value); break;
    default: throw std::logic_error("FAT layout must be 12, 16 or 32 bits");
    }
}

void CraftedVolume::chain(const std::vector<uint32_t>& clusters) {
    for (size_t i = 0; i + 1 < clusters.size(); i++) {
        set_fat(clusters[i], clusters[i + 1]);
    }
    set_fat(clusters.back(), 0x0FFFFFFF);
}

void CraftedVolume::entry(uint32_t sect, uint32_t slot, const std::string& name11, uint8_t attr,
                          uint32_t first_cluster, uint32_t size) {
    const size_t at = size_t{sect} * 512 + slot * 32;
    for (size_t i = 0; i < 11; i++) {
        image_[at + i] = static_cast<uint8_t>(name11.at(i));
    }
    image_[at + 11] = attr;
    put16(image_, at + 20, first_cluster >> 16);
    put16(image_, at + 26, first_cluster);
    put32(image_, at + 28, size);
}

void CraftedVolume::write(uint32_t sector, uint32_t offset, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), image_.begin() + static_cast<long>(size_t{sector} * 512 + offset));
}

void CraftedVolume::partition_entry(int index, uint8_t type, uint32_t start) {
    const size_t at = 446 + static_cast<size_t>(index) * 16;
    image_[at + 4] = type;
    put32(image_, at + 8, start);
    put32(image_, at + 12, 1000);
    put16(image_, 510, 0xAA55);
}

} // namespace fattest
