// Intel HEX, the file a device programmer takes (build/target/sdcard.ihex):
// the image's bytes with the addresses they go to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sdsim {

struct HexImage {
    uint32_t address = 0; // of the first byte, as the file gives it (physical for flash)
    std::vector<uint8_t> bytes;
};

// A file of text lines that all start with ':' is Intel HEX; anything else is
// taken as a flat binary.
bool is_intel_hex(const std::vector<uint8_t>& file);

// The bytes from the lowest address the records give to the highest; a gap
// between records reads as erased flash (0xFF). Throws ToolError naming the
// line for a record that is malformed, fails its checksum or overlaps another.
HexImage parse_intel_hex(const std::vector<uint8_t>& file);

} // namespace sdsim
