#include "volume_map.h"

#include <cctype>
#include <utility>
#include <vector>

#include "little_endian.h"

namespace testsupport {
namespace {

bool is_boot_record(const std::vector<uint8_t>& s) {
    return get16(s, 510) == 0xAA55 && ((s[54] == 'F' && s[55] == 'A') || (s[82] == 'F' && s[83] == 'A'));
}

std::vector<uint8_t> sector(const sim::DiskImage& image, uint64_t n) {
    return n < image.sector_count() ? image.read_sector(static_cast<uint32_t>(n))
                                    : std::vector<uint8_t>(512, 0);
}

// The FAT entry of `cluster`, read from the first FAT.
uint32_t next_cluster(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t cluster) {
    const uint64_t bit = uint64_t{cluster} * static_cast<uint64_t>(geo.fat_bits);
    const uint64_t byte = bit / 8;
    uint32_t value = 0;
    for (uint64_t i = 0; i < 4; i++) {
        const uint64_t at = byte + i;
        value |= uint32_t{sector(image, geo.fat_start + at / 512)[at % 512]} << (8 * i);
    }
    if (geo.fat_bits == 12) {
        return (cluster & 1) ? (value >> 4) & 0xFFF : value & 0xFFF;
    }
    return geo.fat_bits == 16 ? value & 0xFFFF : value & 0x0FFFFFFF;
}

} // namespace

std::string dir_name(const std::string& segment) {
    std::string out(11, ' ');
    const size_t dot = segment.find('.');
    const std::string base = segment.substr(0, dot);
    const std::string ext = dot == std::string::npos ? "" : segment.substr(dot + 1);
    for (size_t i = 0; i < base.size() && i < 8; i++) {
        out[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(base[i])));
    }
    for (size_t i = 0; i < ext.size() && i < 3; i++) {
        out[8 + i] = static_cast<char>(std::toupper(static_cast<unsigned char>(ext[i])));
    }
    return out;
}

std::vector<uint32_t> chain_clusters(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t first) {
    std::vector<uint32_t> clusters;
    std::set<uint32_t> seen;
    for (uint32_t c = first; c >= 2 && c - 2 < geo.clusters && seen.insert(c).second;
         c = next_cluster(image, geo, c)) {
        clusters.push_back(c);
    }
    return clusters;
}

namespace {

std::vector<uint32_t> chain_in_order(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t first) {
    std::vector<uint32_t> sectors;
    for (uint32_t c : chain_clusters(image, geo, first)) {
        const uint64_t start = geo.data_start + uint64_t{c - 2} * geo.cluster_sectors;
        for (uint64_t s = start; s < start + geo.cluster_sectors && s <= UINT32_MAX; s++) {
            sectors.push_back(static_cast<uint32_t>(s));
        }
    }
    return sectors;
}

// The sectors of the directory starting at `cluster`; 0 is the root.
std::vector<uint64_t> directory_sectors(const sim::DiskImage& image, const VolumeGeometry& geo,
                                        uint32_t cluster) {
    if (cluster == 0 && geo.fat_bits == 32) {
        cluster = geo.root_cluster;
    }
    std::vector<uint64_t> sectors;
    if (cluster == 0) {
        for (uint32_t i = 0; i < geo.root_sectors; i++) {
            sectors.push_back(geo.root_start + i);
        }
    } else {
        const std::vector<uint32_t> chain = chain_in_order(image, geo, cluster);
        sectors.assign(chain.begin(), chain.end());
    }
    return sectors;
}

// The live, non-volume entry named `name` in the directory starting at `cluster`.
std::optional<DirectoryEntry> find(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t cluster,
                                   const std::string& name) {
    for (uint64_t s : directory_sectors(image, geo, cluster)) {
        const std::vector<uint8_t> data = sector(image, s);
        for (size_t at = 0; at < 512; at += 32) {
            if (data[at] == 0x00) {
                return std::nullopt;
            }
            if (data[at] == 0xE5 || (data[at + 11] & 0x08) != 0) {
                continue;
            }
            std::string stored(data.begin() + static_cast<std::ptrdiff_t>(at),
                               data.begin() + static_cast<std::ptrdiff_t>(at + 11));
            if (stored[0] == 0x05) {
                stored[0] = static_cast<char>(0xE5);
            }
            if (stored == name) {
                const uint32_t hi = geo.fat_bits == 32 ? get16(data, at + 20) : 0;
                // A sector past the image reads as zeros and ends the search above, so `s` fits.
                return DirectoryEntry{static_cast<uint32_t>(s), at, (hi << 16) | get16(data, at + 26),
                                      (data[at + 11] & 0x10) != 0};
            }
        }
    }
    return std::nullopt;
}

// Adds the chains of the files below the directory at `cluster` to `files`
// and the directories' own sectors to `dirs`; `seen` keeps a corrupt tree
// whose directories contain each other from recursing forever.
void collect_tree(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t cluster,
                  std::set<uint32_t>& seen, std::set<uint32_t>& files, std::set<uint32_t>& dirs) {
    if (!seen.insert(cluster).second) {
        return;
    }
    for (uint64_t s : directory_sectors(image, geo, cluster)) {
        if (s <= UINT32_MAX) {
            dirs.insert(static_cast<uint32_t>(s));
        }
        const std::vector<uint8_t> data = sector(image, s);
        for (size_t at = 0; at < 512; at += 32) {
            if (data[at] == 0x00) {
                return;
            }
            if (data[at] == 0xE5 || data[at] == '.' || (data[at + 11] & 0x08) != 0) {
                continue;
            }
            const uint32_t hi = geo.fat_bits == 32 ? get16(data, at + 20) : 0;
            const uint32_t first = (hi << 16) | get16(data, at + 26);
            if (data[at + 11] & 0x10) {
                collect_tree(image, geo, first, seen, files, dirs);
            } else {
                const std::set<uint32_t> chain = chain_sectors(image, geo, first);
                files.insert(chain.begin(), chain.end());
            }
        }
    }
}

} // namespace

std::optional<VolumeGeometry> read_geometry(const sim::DiskImage& image) {
    if (image.sector_count() == 0) {
        return std::nullopt;
    }
    VolumeGeometry geo;
    std::vector<uint8_t> boot = sector(image, 0);
    if (!is_boot_record(boot)) {
        if (get16(boot, 510) != 0xAA55 || boot[446 + 4] == 0) {
            return std::nullopt;
        }
        geo.boot = get32(boot, 446 + 8);
        boot = sector(image, geo.boot);
        if (!is_boot_record(boot)) {
            return std::nullopt;
        }
    }
    const uint32_t per_cluster = boot[13];
    const uint32_t reserved = get16(boot, 14);
    const uint32_t fats = boot[16];
    const uint32_t root_entries = get16(boot, 17);
    const uint32_t total = get16(boot, 19) != 0 ? get16(boot, 19) : get32(boot, 32);
    const uint32_t fat_size = get16(boot, 22) != 0 ? get16(boot, 22) : get32(boot, 36);
    if (per_cluster == 0) {
        return std::nullopt;
    }
    geo.cluster_sectors = per_cluster;
    geo.fat_copies = fats;
    geo.fat_start = geo.boot + reserved;
    geo.fat_sectors = fat_size * fats;
    geo.root_start = geo.fat_start + geo.fat_sectors;
    geo.root_sectors = (root_entries * 32 + 511) / 512;
    geo.data_start = geo.root_start + geo.root_sectors;
    const uint64_t system = uint64_t{reserved} + uint64_t{fat_size} * fats + geo.root_sectors;
    if (system > total) {
        return std::nullopt;
    }
    geo.clusters = static_cast<uint32_t>((total - system) / per_cluster);
    geo.fat_bits = geo.clusters < 4085 ? 12 : geo.clusters < 65525 ? 16 : 32;
    if (geo.fat_bits == 32) {
        geo.root_sectors = 0;
        geo.root_cluster = get32(boot, 44);
        const uint32_t fsinfo = get16(boot, 48);
        geo.fsinfo = fsinfo != 0 && fsinfo != 0xFFFF ? geo.boot + fsinfo : 0;
    }
    return geo;
}

std::set<uint32_t> chain_sectors(const sim::DiskImage& image, const VolumeGeometry& geo, uint32_t first) {
    const std::vector<uint32_t> in_order = chain_in_order(image, geo, first);
    return {in_order.begin(), in_order.end()};
}

// The first cluster of the directory that holds the last segment of `path`
// (0: the root) and that segment; nothing when a directory on the way is missing.
std::optional<std::pair<uint32_t, std::string>>
parent_of(const sim::DiskImage& image, const VolumeGeometry& geo, const std::string& path) {
    uint32_t dir = geo.fat_bits == 32 ? geo.root_cluster : 0;
    size_t from = path.find_first_not_of('/');
    while (from != std::string::npos) {
        const size_t slash = path.find('/', from);
        const std::string segment = dir_name(path.substr(from, slash - from));
        if (slash == std::string::npos) {
            return std::pair{dir, segment};
        }
        const std::optional<DirectoryEntry> entry = find(image, geo, dir, segment);
        if (!entry) {
            return std::nullopt;
        }
        dir = entry->first_cluster;
        from = slash + 1;
    }
    return std::nullopt;
}

std::optional<DirectoryEntry> find_entry(const sim::DiskImage& image, const VolumeGeometry& geo,
                                         const std::string& path) {
    const auto parent = parent_of(image, geo, path);
    return parent ? find(image, geo, parent->first, parent->second) : std::nullopt;
}

std::optional<std::set<uint32_t>> file_sectors(const sim::DiskImage& image, const std::string& path) {
    const std::optional<VolumeGeometry> geo = read_geometry(image);
    const std::optional<DirectoryEntry> entry = geo ? find_entry(image, *geo, path) : std::nullopt;
    if (!entry) {
        return std::nullopt;
    }
    return chain_sectors(image, *geo, entry->first_cluster);
}

std::set<uint32_t> all_file_sectors(const sim::DiskImage& image) {
    std::set<uint32_t> files, dirs;
    if (const std::optional<VolumeGeometry> geo = read_geometry(image)) {
        std::set<uint32_t> seen;
        collect_tree(image, *geo, 0, seen, files, dirs);
    }
    return files;
}

std::set<uint32_t> fat_sectors(const VolumeGeometry& geo) {
    std::set<uint32_t> out;
    for (uint64_t s = geo.fat_start; s < uint64_t{geo.fat_start} + geo.fat_sectors && s <= UINT32_MAX; s++) {
        out.insert(static_cast<uint32_t>(s));
    }
    if (geo.fsinfo != 0) {
        out.insert(geo.fsinfo);
    }
    return out;
}

std::optional<std::set<uint32_t>> parent_directory_sectors(const sim::DiskImage& image,
                                                           const std::string& path) {
    const std::optional<VolumeGeometry> geo = read_geometry(image);
    if (!geo) {
        return std::nullopt;
    }
    const auto parent = parent_of(image, *geo, path);
    if (!parent) {
        return std::nullopt;
    }
    std::set<uint32_t> out;
    for (uint64_t s : directory_sectors(image, *geo, parent->first)) {
        if (s <= UINT32_MAX) {
            out.insert(static_cast<uint32_t>(s));
        }
    }
    return out;
}

std::set<uint32_t> all_directory_sectors(const sim::DiskImage& image) {
    std::set<uint32_t> files, dirs;
    if (const std::optional<VolumeGeometry> geo = read_geometry(image)) {
        std::set<uint32_t> seen;
        collect_tree(image, *geo, 0, seen, files, dirs);
    }
    return dirs;
}

std::set<uint32_t> free_sectors(const sim::DiskImage& image) {
    std::set<uint32_t> out;
    const std::optional<VolumeGeometry> geo = read_geometry(image);
    if (!geo) {
        return out;
    }
    // Clusters past the card's end hold no sector a write could reach.
    for (uint32_t c = 2; c - 2 < geo->clusters; c++) {
        const uint64_t start = geo->data_start + uint64_t{c - 2} * geo->cluster_sectors;
        if (start >= image.sector_count()) {
            break;
        }
        if (next_cluster(image, *geo, c) == 0) {
            for (uint64_t s = start; s < start + geo->cluster_sectors && s <= UINT32_MAX; s++) {
                out.insert(static_cast<uint32_t>(s));
            }
        }
    }
    return out;
}

} // namespace testsupport
