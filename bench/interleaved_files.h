// Two files whose clusters alternate on the volume, the worst case for a
// module that learns straight lines of clusters: every step of either chain
// jumps over a cluster of the other file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume.h"

namespace bench {

// Copies both files onto the volume with mtools, which lays each out in one
// piece, then deals their clusters out anew with the bench's own FAT code:
// the first file takes every other cluster of the space the two fill, the
// second the ones between; the data moves with its cluster, both FAT copies
// and both directory entries follow. Throws std::runtime_error unless
// fsck.fat then finds the volume clean, mtools reads the first file back
// unchanged and no step of its chain goes to the next cluster. Names are
// 8.3 names in the root directory; FAT16 and FAT32 only.
void put_interleaved(const testsupport::Volume& volume, const std::string& first,
                     const std::vector<uint8_t>& first_data, const std::string& second,
                     const std::vector<uint8_t>& second_data);

} // namespace bench
