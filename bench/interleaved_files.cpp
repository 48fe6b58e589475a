#include "interleaved_files.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include "disk_image.h"
#include "little_endian.h"
#include "volume_map.h"

namespace bench {
namespace {

constexpr size_t SECTOR = 512;

// The first FAT, held in memory and written back over every copy.
class Fat {
  public:
    Fat(sim::DiskImage& image, const testsupport::VolumeGeometry& geo)
        : image_(image), geo_(geo), sectors_(geo.fat_sectors / geo.fat_copies) {
        for (uint32_t s = 0; s < sectors_; ++s) {
            const std::vector<uint8_t> data = image.read_sector(geo.fat_start + s);
            bytes_.insert(bytes_.end(), data.begin(), data.end());
        }
    }

    // `next` 0 ends the chain at `cluster`.
    void link(uint32_t cluster, uint32_t next) {
        if (geo_.fat_bits == 16) {
            testsupport::put16(bytes_, cluster * 2u, next != 0 ? next : 0xFFFF);
        } else { // the top four bits are reserved and kept
            const uint32_t kept = testsupport::get32(bytes_, cluster * 4u) & 0xF0000000;
            testsupport::put32(bytes_, cluster * 4u, kept | (next != 0 ? next : 0x0FFFFFFF));
        }
    }

    void store() {
        for (uint32_t copy = 0; copy < geo_.fat_copies; ++copy) {
            for (uint32_t s = 0; s < sectors_; ++s) {
                const auto from = bytes_.begin() + static_cast<std::ptrdiff_t>(s * SECTOR);
                image_.write_sector(geo_.fat_start + copy * sectors_ + s, {from, from + SECTOR});
            }
        }
    }

  private:
    sim::DiskImage& image_;
    const testsupport::VolumeGeometry& geo_;
    uint32_t sectors_; // of one copy
    std::vector<uint8_t> bytes_;
};

uint32_t first_sector(const testsupport::VolumeGeometry& geo, uint32_t cluster) {
    return geo.data_start + (cluster - 2) * geo.cluster_sectors;
}

testsupport::DirectoryEntry file_in_root(const sim::DiskImage& image, const testsupport::VolumeGeometry& geo,
                                         const std::string& name) {
    const std::optional<testsupport::DirectoryEntry> entry = testsupport::find_entry(image, geo, "/" + name);
    if (!entry || entry->directory) {
        throw std::runtime_error("interleaving: no file " + name + " in the root directory");
    }
    return *entry;
}

void set_first_cluster(sim::DiskImage& image, const testsupport::DirectoryEntry& entry, uint32_t cluster) {
    std::vector<uint8_t> data = image.read_sector(entry.sector);
    testsupport::put16(data, entry.offset + 20, cluster >> 16); // zero on FAT16, as it was
    testsupport::put16(data, entry.offset + 26, cluster);
    image.write_sector(entry.sector, data);
}

std::vector<std::vector<uint8_t>> read_clusters(const sim::DiskImage& image,
                                                const testsupport::VolumeGeometry& geo,
                                                const std::vector<uint32_t>& chain) {
    std::vector<std::vector<uint8_t>> data;
    for (uint32_t cluster : chain) {
        for (uint32_t s = 0; s < geo.cluster_sectors; ++s) {
            data.push_back(image.read_sector(first_sector(geo, cluster) + s));
        }
    }
    return data;
}

// Lays `data` (a chain's sectors in file order) on `clusters` and links them in that order.
void place(sim::DiskImage& image, const testsupport::VolumeGeometry& geo, Fat& fat,
           const std::vector<uint32_t>& clusters, const std::vector<std::vector<uint8_t>>& data) {
    for (size_t i = 0; i < clusters.size(); ++i) {
        for (uint32_t s = 0; s < geo.cluster_sectors; ++s) {
            image.write_sector(first_sector(geo, clusters[i]) + s, data[i * geo.cluster_sectors + s]);
        }
        fat.link(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : 0);
    }
}

void interleave(const std::string& image_path, const std::string& first, const std::string& second) {
    sim::DiskImage image = sim::DiskImage::open_file(image_path);
    const std::optional<testsupport::VolumeGeometry> geo = testsupport::read_geometry(image);
    if (!geo || geo->fat_bits == 12) {
        throw std::runtime_error("interleaving: not a FAT16 or FAT32 volume");
    }
    Fat fat(image, *geo);
    const testsupport::DirectoryEntry entries[] = {file_in_root(image, *geo, first),
                                                   file_in_root(image, *geo, second)};
    std::vector<uint32_t> chains[2];
    std::vector<std::vector<uint8_t>> data[2];
    std::vector<uint32_t> space;
    for (int f = 0; f < 2; ++f) {
        // Read before anything is re-linked, so the image's FAT still holds every chain.
        chains[f] = testsupport::chain_clusters(image, *geo, entries[f].first_cluster);
        if (chains[f].empty()) {
            throw std::runtime_error("interleaving: " + (f == 0 ? first : second) + " holds no clusters");
        }
        data[f] = read_clusters(image, *geo, chains[f]);
        space.insert(space.end(), chains[f].begin(), chains[f].end());
    }
    std::sort(space.begin(), space.end());
    // Alternate while both have clusters to take; the longer file takes the rest.
    std::vector<uint32_t> dealt[2];
    for (uint32_t cluster : space) {
        const int turn = dealt[0].size() == chains[0].size()   ? 1
                         : dealt[1].size() == chains[1].size() ? 0
                                                               : dealt[0].size() > dealt[1].size();
        dealt[turn].push_back(cluster);
    }
    for (int f = 0; f < 2; ++f) {
        place(image, *geo, fat, dealt[f], data[f]);
        set_first_cluster(image, entries[f], dealt[f].front());
    }
    fat.store();
}

// Clusters of the file that lie right after another of its clusters, from
// the sectors the project's independent reading of the volume finds for it.
size_t adjacent_clusters(const testsupport::Volume& volume, const std::string& name) {
    const sim::DiskImage image = sim::DiskImage::open_file(volume.image(), sim::DiskImage::Access::ReadOnly);
    const std::optional<std::set<uint32_t>> sectors = testsupport::file_sectors(image, "/" + name);
    const uint32_t per_cluster = static_cast<uint32_t>(volume.shape().sectors_per_cluster);
    if (!sectors || sectors->empty()) {
        throw std::runtime_error("interleaving: " + name + " is not found after the move");
    }
    size_t runs = 0; // of sectors one after the other
    for (uint32_t s : *sectors) {
        runs += sectors->count(s - 1) == 0;
    }
    return sectors->size() / per_cluster - runs;
}

} // namespace

void put_interleaved(const testsupport::Volume& volume, const std::string& first,
                     const std::vector<uint8_t>& first_data, const std::string& second,
                     const std::vector<uint8_t>& second_data) {
    volume.put("/" + first, first_data);
    volume.put("/" + second, second_data);
    interleave(volume.image().string(), first, second);
    if (const std::string problems = volume.fsck_problems(); !problems.empty()) {
        throw std::runtime_error("interleaving left the volume unclean: " + problems);
    }
    if (volume.get("/" + first) != first_data || volume.get("/" + second) != second_data) {
        throw std::runtime_error("interleaving changed what mtools reads from " + first + " or " + second);
    }
    if (const size_t adjacent = adjacent_clusters(volume, first); adjacent != 0) {
        throw std::runtime_error("interleaving left " + std::to_string(adjacent) + " clusters of " + first +
                                 " right after another of its own");
    }
}

} // namespace bench
