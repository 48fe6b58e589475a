#include "volume_check.h"

#include <cstdint>
#include <vector>

namespace sdsim {

namespace {

uint32_t le16(const std::vector<uint8_t>& s, size_t at) { return s[at] | (s[at + 1] << 8); }

uint32_t le32(const std::vector<uint8_t>& s, size_t at) { return le16(s, at) | (le16(s, at + 2) << 16); }

bool has_signature(const std::vector<uint8_t>& s) { return s[510] == 0x55 && s[511] == 0xAA; }

// A boot sector of any FAT type names its type at offset 54 (FAT12/16) or 82 (FAT32).
bool is_fat_boot_sector(const std::vector<uint8_t>& s) {
    const auto names_fat = [&](size_t at) { return s[at] == 'F' && s[at + 1] == 'A' && s[at + 2] == 'T'; };
    return has_signature(s) && (s[0] == 0xEB || s[0] == 0xE9) && (names_fat(54) || names_fat(82));
}

std::optional<std::string> sector_size_problem(const std::vector<uint8_t>& boot) {
    const uint32_t bytes_per_sector = le16(boot, 11);
    if (bytes_per_sector == sim::SECTOR_SIZE) {
        return std::nullopt;
    }
    return "the FAT volume has " + std::to_string(bytes_per_sector) +
           "-byte sectors; the module reads only 512-byte sectors";
}

} // namespace

std::optional<uint32_t> fat_boot_sector(const sim::DiskImage& image) {
    if (image.sector_count() == 0) {
        return std::nullopt;
    }
    const std::vector<uint8_t> first = image.read_sector(0);
    if (is_fat_boot_sector(first)) {
        return 0;
    }
    const uint32_t partition_start = le32(first, 0x1BE + 8);
    if (has_signature(first) && partition_start != 0 && partition_start < image.sector_count() &&
        is_fat_boot_sector(image.read_sector(partition_start))) {
        return partition_start;
    }
    return std::nullopt;
}

std::optional<std::string> volume_problem(const sim::DiskImage& image) {
    if (image.sector_count() == 0) {
        return std::string("the image is too small to hold a boot sector (512 bytes)");
    }
    if (const std::optional<uint32_t> boot = fat_boot_sector(image)) {
        return sector_size_problem(image.read_sector(*boot));
    }
    return std::string("the image holds no FAT volume, neither at sector 0 nor in its first partition");
}

} // namespace sdsim
