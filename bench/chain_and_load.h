// Bus figures of two workloads that cost most on the card: an unaligned write
// near the end of a long one-sector-per-cluster file, and a long program load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

struct ChainAndLoad {
    size_t write_bus_bytes; // fresh open, then 10 bytes at 1,048,005 of a 1 MiB file, 1 sector per cluster
    double
        load_bytes_per_byte; // LOAD of a 50,000-byte program, 64 sectors per cluster: bus bytes per text byte
};

// Runs both on the image in the emulator, on volumes made by mkfs.fat and mtools.
ChainAndLoad measure_chain_and_load(const std::vector<uint8_t>& image, uint32_t placement);

} // namespace bench
