// The demo card that sdsim uses when no image is named: a FAT32 volume made with
// mkfs.fat and filled with mtools on first use.
#pragma once

#include <string>

namespace sdsim {

// $SDSIM_DEMO_CARD if set, else $XDG_CACHE_HOME/sdsim/demo.img, else ~/.cache/sdsim/demo.img.
std::string demo_card_path();

// Creates the demo card at `path` unless a file is already there.
void ensure_demo_card(const std::string& path);

} // namespace sdsim
