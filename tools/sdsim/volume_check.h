// What sdsim can tell about a card image before the module sees it: the
// module answers only "No File System" or "Not Ready"; the tool can say why.
#pragma once

#include <optional>
#include <string>

#include "disk_image.h"

namespace sdsim {

// A sentence on why the module cannot mount this image, or nothing when the
// image holds a FAT boot sector with 512-byte sectors at sector 0 or at the
// start of its first partition.
std::optional<std::string> volume_problem(const sim::DiskImage& image);

} // namespace sdsim
