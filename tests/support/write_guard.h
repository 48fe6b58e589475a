// Lets a card store only the data sectors of one file, as the test's own
// reading of the image finds them; a write anywhere else fails the running
// test at the byte it happens, with the sector.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "sd_card.h"
#include "volume_map.h"

namespace testsupport {

inline void fail_on_refused_writes(sim::SdCard& card) {
    card.on_violation([](const sim::CardViolation& v) {
        if (v.kind == sim::Violation::WriteNotAllowed) {
            ADD_FAILURE() << "write outside the allow-list: " << v.detail;
        }
    });
}

// Only `path` (short names) may be written from now on; nothing at all when it is not found.
inline void allow_writes_to(sim::SdCard& card, const sim::DiskImage& image, const std::string& path) {
    card.allow_writes(file_sectors(image, path).value_or(std::set<uint32_t>{}));
    fail_on_refused_writes(card);
}

} // namespace testsupport
