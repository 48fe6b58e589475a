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

// Checks and repairs the volume at the start of `image` (changing the file) in one run of the tools;
// `scratch` is an empty directory for the files read back.
Repair check_and_repair(const std::filesystem::path& image, const std::filesystem::path& scratch);

} // namespace integrity
