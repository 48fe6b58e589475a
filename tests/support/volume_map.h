// A second, independent reading of a FAT volume on a card image, written
// from Microsoft's FAT specification rather than from the module: where the
// volume lies, its geometry, a short-name path lookup and the sectors of a
// cluster chain. Tests use it to say which sectors a session may write.
// Every walk is bounded, so a corrupt image only ever yields a smaller answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "disk_image.h"

namespace testsupport {

struct VolumeGeometry {
    uint32_t boot = 0;         // sector of the boot record
    uint32_t fat_start = 0;    // first sector of the first FAT
    uint32_t fat_sectors = 0;  // all FATs together
    uint32_t fat_copies = 0;   // how many FATs those are
    uint32_t root_start = 0;   // fixed root directory (FAT12/16)
    uint32_t root_sectors = 0; // 0 on FAT32
    uint32_t data_start = 0;   // first sector of cluster 2
    uint32_t cluster_sectors = 0;
    uint32_t clusters = 0; // data clusters
    int fat_bits = 0;      // 12, 16 or 32
    uint32_t root_cluster = 0;
    uint32_t fsinfo = 0; // FAT32's FSInfo sector; 0 for none

    // Sector 0 up to the first data sector: boot area, FATs and the fixed root directory.
    uint32_t system_end() const { return data_start; }
};

// The 11-byte directory form of one 8.3 path segment ("NEW.TXT" -> "NEW     TXT").
std::string dir_name(const std::string& segment);

// The geometry as the boot record states it, or nothing when no FAT boot record is found.
std::optional<VolumeGeometry> read_geometry(const sim::DiskImage& image);

// The sectors of the chain that starts at `first`, followed until an end
// mark, a cluster outside the volume or a cluster already seen.
std::set<uint32_t> chain_sectors(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t first);

// The clusters of the chain that starts at `first`, in chain order, with the
// same bounds as chain_sectors.
std::vector<uint32_t> chain_clusters(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t first);

// Where a live directory entry lies and the cluster its chain starts at.
struct DirectoryEntry {
    uint32_t sector;
    size_t offset; // in the sector
    uint32_t first_cluster;
    bool directory;
};

// The entry at `path` ("DIR/NAME.TXT", short names), or nothing when a
// directory on the way or the entry itself is missing.
std::optional<DirectoryEntry> find_entry(const sim::DiskImage& image, const VolumeGeometry& geo,
                                         const std::string& path);

// The data sectors of the file at `path` ("DIR/NAME.TXT", short names), or
// nothing when the volume or the file is not found.
std::optional<std::set<uint32_t>> file_sectors(const sim::DiskImage& image, const std::string& path);

// The data sectors of every file in the volume's directory tree.
std::set<uint32_t> all_file_sectors(const sim::DiskImage& image);

// What a command that makes, grows, shrinks or deletes files may write
// besides the file's own data: the sectors of every FAT and FSInfo.
std::set<uint32_t> fat_sectors(const VolumeGeometry& geo);
// The sectors of the directory that holds the last segment of `path` (short
// names; the root for "NAME"), or nothing when a directory on the way is missing.
std::optional<std::set<uint32_t>> parent_directory_sectors(const sim::DiskImage& image,
                                                           const std::string& path);
// The sectors of every directory in the volume's tree, the root's included.
std::set<uint32_t> all_directory_sectors(const sim::DiskImage& image);
// The data sectors of the clusters the first FAT marks free.
std::set<uint32_t> free_sectors(const sim::DiskImage& image);

} // namespace testsupport
