// Issue 19's figures before seeks jumped, to print beside today's: chip_time's
// seek workloads on the byte-counted card, run on commit fa3940f, the last
// whose module walked a cluster chain one FAT sector per cluster (its bench
// with these workloads and this volume layout built in a scratch clone).
#pragma once

#include <cstdint>
#include <optional>

namespace bench {

constexpr const char* SEEK_BASELINE_COMMIT = "fa3940f";

struct SeekFigures {
    double sequential_bus_per_payload; // 1 MB in 512-byte reads
    uint64_t random_bus_per_call;      // random 100-byte reads, over the short run's calls
    uint64_t fresh_write_bus;          // fresh open and a 10-byte write near the end, mount included
    uint64_t random_instructions_per_call;
};

std::optional<SeekFigures> seek_baseline(int fat, int sectors_per_cluster, bool fragmented);

} // namespace bench
