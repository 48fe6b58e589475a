// The tool's own reading of a card image's directories, for what the module
// does not say: each entry's size and its long name (the module lists and
// takes 8.3 names only). Every walk is bounded, so a corrupt image gives a
// shorter answer or none, never a hang.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk_image.h"

namespace sdsim {

struct ListedEntry {
    std::string short_name; // "DATA~1.JSO", as stored (8.3, with its dot)
    std::string long_name;  // "data.json" in UTF-8; empty when there is none
    bool directory = false;
    uint32_t size = 0;
};

// The live entries of the directory at `path` ("", "/", "DATA", "/DATA/SUB";
// each part an 8.3 name or a long name, in any case), in directory order
// without "." and "..", or nothing when the image has no FAT volume or the
// path names no directory.
std::optional<std::vector<ListedEntry>> list_directory(const sim::DiskImage& image, const std::string& path);

// `path` with each part that is the long name of an entry, and not its short
// name, replaced by the short name; nothing when no part was replaced or the
// path does not lead anywhere.
std::optional<std::string> short_path_for(const sim::DiskImage& image, const std::string& path);

} // namespace sdsim
