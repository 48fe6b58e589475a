// A card image on the virtual card, with the file system's one FATFS record,
// and the probes the FAT tests share: whole-file reads, listings, and counts
// of the commands the card received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card_rig.h"
#include "fat_fs.h"
#include "volume.h"

namespace fattest {

struct FatRig {
    explicit FatRig(sim::DiskImage disk, sim::SdCardConfig config = {}) : card(std::move(disk), config) {}
    explicit FatRig(const testsupport::Volume& volume, sim::SdCardConfig config = {})
        : card(sim::DiskImage::open_file(volume.image().string()), config) {}

    // Whatever a test did, the file system must have kept the card's protocol.
    ~FatRig() {
        for (const auto& v : card.card.violations()) {
            if (v.kind == sim::Violation::WriteNotAllowed) {
                continue; // failed the test when it happened
            }
            ADD_FAILURE() << "card protocol violated: " << sim::violation_name(v.kind) << " " << v.detail;
        }
    }
    FatRig(const FatRig&) = delete;
    FatRig& operator=(const FatRig&) = delete;

    FRESULT mount() { return pf_mount(&fs); }
    // Forgets what the card and the bus have logged so far.
    void clear_logs() {
        card.card.clear_logs();
        card.board.clear_logs();
    }
    // Commands with this index the card received since the last clear_logs.
    std::vector<uint32_t> args(uint8_t index) const;
    size_t count(uint8_t index) const { return args(index).size(); }
    // Single-block reads whose sector lies in [first, first + count).
    size_t reads_in(uint32_t first, uint32_t count) const;
    // Reads of the FATs, which end where the fixed root directory or, on FAT32, the data begins.
    size_t fat_reads() const {
        return reads_in(fs.fatbase, (fs.fs_type == 3 ? fs.database : fs.dirbase) - fs.fatbase);
    }

    // The file system's working space lies right before its FATFS, as in the state block.
    struct Records {
        FatScratch scratch;
        FATFS fs;
    };
    static_assert(offsetof(Records, fs) == sizeof(FatScratch));

    testsupport::CardRig card;
    Records records{};
    FATFS& fs = records.fs;
};

// Opens `path` and reads it to the end in pieces of `chunk` bytes; the
// result of the first call that is not FR_OK (or FR_OK) goes to `res`.
std::vector<uint8_t> read_file(FATFS& fs, const std::string& path, uint32_t chunk, FRESULT* res = nullptr);

// Names pf_readdir delivers for `path`, up to the empty name that ends it.
std::vector<std::string> list_dir(FATFS& fs, const std::string& path, FRESULT* res = nullptr);

// Number of bytes that differ between two equally long buffers.
size_t differing(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

} // namespace fattest
