// The small well-formed card both fuzz targets start from: an MBR whose first
// partition holds a FAT12 volume of one-sector clusters with two FATs, a root
// directory, a sub-directory, a fragmented file, a program file and a deleted
// entry. The sectors from the MBR to the sub-directory come first in the
// image, so the corrupting target can lay its input straight over them.
#pragma once

#include <cstdint>
#include <vector>

namespace fuzz {

// Sectors 0 to 5: MBR, boot record, FAT 1, FAT 2, root directory, sub-directory.
constexpr uint32_t SEED_SYSTEM_BYTES = 6 * 512;

std::vector<uint8_t> seed_volume();

} // namespace fuzz
