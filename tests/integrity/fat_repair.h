// What the real tools make of a card a power cut left: fsck.fat -n's findings
// sorted into those a repair mends without losing a byte and the rest, then
// fsck.fat -a, and every file as mtools reads it afterwards.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace integrity {

struct Repair {
    // fsck.fat -n's findings other than lost clusters, a chain longer than its
    // file, a wrong free count and two FATs of which the first is taken, one
    // line each; empty when there are none.
    std::string other_findings;
    bool found_any = false; // fsck.fat -n found anything at all
    // The two FATs differed, and the repair took the first (the one written first).
    bool fats_differed = false;
    std::string report;       // fsck.fat -n's whole report before the repair
    std::string after_repair; // fsck.fat -n's findings after fsck.fat -a; empty when clean
    // Every file after the repair by its path ("/DIR/Long Name.txt"), without
    // the files fsck.fat makes of lost chains (/FSCKnnnn.REC), which are counted.
    std::map<std::string, std::vector<uint8_t>> files;
    int recovered_chains = 0;
};

// Checks the volume at the start of `image`, then repairs a copy of it, in one
// run of the tools; `image` stays as it is. `scratch` is an empty directory
// for the copy and the files read back. `fat_copy` 1 or 2 has fsck.fat take
// that copy of the FAT (its -F); 0 lets it choose.
Repair check_and_repair(const std::filesystem::path& image, const std::filesystem::path& scratch,
                        int fat_copy = 0);

// Writes `bytes` as the file at `path`, leaving sectors of zeros as holes: a
// card image of 34 MiB holding a few files then takes a few kilobytes, and
// its copies as little.
void write_sparse(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Puts `data` (whole sectors) into the file at `path` from sector `sector` on.
void put_sectors(const std::filesystem::path& path, uint32_t sector, const std::vector<uint8_t>& data);

} // namespace integrity
