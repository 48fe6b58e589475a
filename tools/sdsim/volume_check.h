// What sdsim can tell about a card image before the module sees it: the
// module answers only "No File System" or "Not Ready"; the tool can say why.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "disk_image.h"

namespace sdsim {

// Where the FAT volume's boot sector is: sector 0, or the start of the first
// partition; nothing when neither holds one.
std::optional<uint32_t> fat_boot_sector(const sim::DiskImage& image);

// A sentence on why the module cannot mount this image, or nothing when the
// image holds a FAT boot sector with 512-byte sectors at sector 0 or at the
// start of its first partition.
std::optional<std::string> volume_problem(const sim::DiskImage& image);

} // namespace sdsim
