#include "fat_listing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <set>

#include "volume_check.h"

namespace sdsim {

namespace {

constexpr size_t ENTRY_SIZE = 32;
constexpr uint8_t ATTR_VOLUME = 0x08;
constexpr uint8_t ATTR_DIRECTORY = 0x10;
constexpr uint8_t ATTR_LONG_NAME = 0x0F;
constexpr uint8_t LONG_NAME_LAST = 0x40;
constexpr uint8_t LONG_NAME_ORDER = 0x1F;
constexpr size_t UNITS_PER_LONG_ENTRY = 13;
// Where a long-name entry keeps its 13 UTF-16 units.
constexpr std::array<size_t, UNITS_PER_LONG_ENTRY> UNIT_OFFSETS = {1,  3,  5,  7,  9,  14, 16,
                                                                   18, 20, 22, 24, 28, 30};

uint32_t le16(const std::vector<uint8_t>& s, size_t at) { return s[at] | (s[at + 1] << 8); }
uint32_t le32(const std::vector<uint8_t>& s, size_t at) { return le16(s, at) | (le16(s, at + 2) << 16); }

struct Geometry {
    uint32_t fat_start = 0;
    uint32_t root_start = 0;
    uint32_t root_sectors = 0; // 0 on FAT32
    uint32_t data_start = 0;
    uint32_t cluster_sectors = 0;
    uint32_t clusters = 0;
    uint32_t root_cluster = 0; // FAT32
    int fat_bits = 0;
};

std::optional<Geometry> read_geometry(const sim::DiskImage& image) {
    const std::optional<uint32_t> at = fat_boot_sector(image);
    if (!at) {
        return std::nullopt;
    }
    const std::vector<uint8_t> boot = image.read_sector(*at);
    const uint32_t reserved = le16(boot, 14), fats = boot[16], root_entries = le16(boot, 17);
    const uint32_t total = le16(boot, 19) != 0 ? le16(boot, 19) : le32(boot, 32);
    const uint32_t fat_size = le16(boot, 22) != 0 ? le16(boot, 22) : le32(boot, 36);
    Geometry g;
    g.cluster_sectors = boot[13];
    g.root_sectors = (root_entries * ENTRY_SIZE + sim::SECTOR_SIZE - 1) / sim::SECTOR_SIZE;
    const uint64_t system = uint64_t{reserved} + uint64_t{fat_size} * fats + g.root_sectors;
    if (le16(boot, 11) != sim::SECTOR_SIZE || g.cluster_sectors == 0 || system > total) {
        return std::nullopt;
    }
    g.fat_start = *at + reserved;
    g.root_start = g.fat_start + fat_size * fats;
    g.data_start = g.root_start + g.root_sectors;
    g.clusters = static_cast<uint32_t>((total - system) / g.cluster_sectors);
    g.fat_bits = g.clusters < 4085 ? 12 : g.clusters < 65525 ? 16 : 32;
    if (g.fat_bits == 32) {
        g.root_sectors = 0;
        g.root_cluster = le32(boot, 44);
    }
    return g;
}

std::string utf8(const std::vector<uint16_t>& units) {
    std::string out;
    for (size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = '?';
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                    static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

// The long-name entries that precede a short entry, checked as a set: in
// order, complete, and made for that short entry (its checksum).
class LongName {
  public:
    void take(const std::vector<uint8_t>& s, size_t at) {
        const uint8_t order = s[at] & LONG_NAME_ORDER;
        if (s[at] & LONG_NAME_LAST) {
            units_.assign(order * UNITS_PER_LONG_ENTRY, 0);
            checksum_ = s[at + 13];
            expected_ = order;
        }
        if (order == 0 || order != expected_ || s[at + 13] != checksum_) {
            expected_ = 0; // out of order: no long name for the next short entry
            return;
        }
        for (size_t i = 0; i < UNITS_PER_LONG_ENTRY; ++i) {
            units_[(order - 1) * UNITS_PER_LONG_ENTRY + i] =
                static_cast<uint16_t>(le16(s, at + UNIT_OFFSETS[i]));
        }
        --expected_;
        complete_ = expected_ == 0;
    }
    // The name for the short entry at `at`, if the pieces belong to it; starts afresh.
    std::string finish(const std::vector<uint8_t>& s, size_t at) {
        uint8_t sum = 0;
        for (size_t i = 0; i < 11; ++i) {
            sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + s[at + i]);
        }
        const std::string name = complete_ && sum == checksum_ ? utf8(units_) : "";
        reset();
        return name;
    }
    void reset() {
        complete_ = false;
        expected_ = 0;
    }

  private:
    std::vector<uint16_t> units_;
    uint8_t checksum_ = 0;
    uint8_t expected_ = 0;
    bool complete_ = false;
};

std::string short_name(const std::vector<uint8_t>& s, size_t at) {
    std::string base(s.begin() + static_cast<std::ptrdiff_t>(at),
                     s.begin() + static_cast<std::ptrdiff_t>(at + 8));
    std::string ext(s.begin() + static_cast<std::ptrdiff_t>(at + 8),
                    s.begin() + static_cast<std::ptrdiff_t>(at + 11));
    if (static_cast<uint8_t>(base[0]) == 0x05) {
        base[0] = static_cast<char>(0xE5);
    }
    base.erase(base.find_last_not_of(' ') + 1);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

struct Found {
    ListedEntry entry;
    uint32_t first_cluster;
};

class Volume {
  public:
    Volume(const sim::DiskImage& image, const Geometry& geo) : image_(image), geo_(geo) {}

    // The entries of the directory starting at `cluster` (0: the root).
    std::vector<Found> entries(uint32_t cluster) const {
        std::vector<Found> out;
        LongName long_name;
        for (const uint64_t n : directory_sectors(cluster)) {
            const std::vector<uint8_t> s = sector(n);
            for (size_t at = 0; at < sim::SECTOR_SIZE; at += ENTRY_SIZE) {
                const uint8_t attr = s[at + 11];
                if (s[at] == 0x00) {
                    return out;
                }
                if (s[at] == 0xE5) {
                    long_name.reset();
                } else if ((attr & ATTR_LONG_NAME) == ATTR_LONG_NAME) {
                    long_name.take(s, at);
                } else if ((attr & ATTR_VOLUME) != 0 || s[at] == '.') {
                    long_name.reset();
                } else {
                    const uint32_t high = geo_.fat_bits == 32 ? le16(s, at + 20) : 0;
                    out.push_back({{short_name(s, at), long_name.finish(s, at), (attr & ATTR_DIRECTORY) != 0,
                                    le32(s, at + 28)},
                                   high << 16 | le16(s, at + 26)});
                }
            }
        }
        return out;
    }

    // The entry each part of `path` names, in turn; nothing when a part is not found.
    std::optional<std::vector<Found>> walk(const std::string& path) const {
        std::vector<Found> trail;
        uint32_t dir = 0;
        for (size_t from = path.find_first_not_of('/'); from != std::string::npos;
             from = path.find_first_not_of('/', path.find('/', from))) {
            const std::string part = path.substr(from, path.find('/', from) - from);
            if (!trail.empty() && !trail.back().entry.directory) {
                return std::nullopt;
            }
            const std::vector<Found> listed = entries(dir);
            const auto named = std::find_if(listed.begin(), listed.end(), [&](const Found& f) {
                return same_name(f.entry.short_name, part) || same_name(f.entry.long_name, part);
            });
            if (named == listed.end()) {
                return std::nullopt;
            }
            trail.push_back(*named);
            dir = named->first_cluster;
        }
        return trail;
    }

  private:
    std::vector<uint8_t> sector(uint64_t n) const {
        return n < image_.sector_count() ? image_.read_sector(static_cast<uint32_t>(n))
                                         : std::vector<uint8_t>(sim::SECTOR_SIZE, 0);
    }

    uint32_t next_cluster(uint32_t cluster) const {
        const uint64_t byte = uint64_t{cluster} * static_cast<uint64_t>(geo_.fat_bits) / 8;
        uint32_t value = 0;
        for (uint64_t i = 0; i < 4; ++i) {
            const uint64_t at = byte + i;
            value |= uint32_t{sector(geo_.fat_start + at / sim::SECTOR_SIZE)[at % sim::SECTOR_SIZE]}
                     << (8 * i);
        }
        if (geo_.fat_bits == 12) {
            return (cluster & 1) ? (value >> 4) & 0xFFF : value & 0xFFF;
        }
        return geo_.fat_bits == 16 ? value & 0xFFFF : value & 0x0FFFFFFF;
    }

    std::vector<uint64_t> directory_sectors(uint32_t cluster) const {
        std::vector<uint64_t> sectors;
        if (cluster == 0 && geo_.fat_bits != 32) {
            for (uint32_t i = 0; i < geo_.root_sectors; ++i) {
                sectors.push_back(geo_.root_start + i);
            }
            return sectors;
        }
        std::set<uint32_t> seen;
        for (uint32_t c = cluster == 0 ? geo_.root_cluster : cluster;
             c >= 2 && c - 2 < geo_.clusters && seen.insert(c).second; c = next_cluster(c)) {
            const uint64_t start = geo_.data_start + uint64_t{c - 2} * geo_.cluster_sectors;
            for (uint32_t i = 0; i < geo_.cluster_sectors; ++i) {
                sectors.push_back(start + i);
            }
        }
        return sectors;
    }

    const sim::DiskImage& image_;
    Geometry geo_;
};

} // namespace

std::optional<std::vector<ListedEntry>> list_directory(const sim::DiskImage& image, const std::string& path) {
    const std::optional<Geometry> geo = read_geometry(image);
    if (!geo) {
        return std::nullopt;
    }
    const Volume volume(image, *geo);
    const std::optional<std::vector<Found>> trail = volume.walk(path);
    if (!trail || (!trail->empty() && !trail->back().entry.directory)) {
        return std::nullopt;
    }
    std::vector<ListedEntry> listed;
    for (const Found& f : volume.entries(trail->empty() ? 0 : trail->back().first_cluster)) {
        listed.push_back(f.entry);
    }
    return listed;
}

std::optional<std::string> short_path_for(const sim::DiskImage& image, const std::string& path) {
    const std::optional<Geometry> geo = read_geometry(image);
    if (!geo) {
        return std::nullopt;
    }
    const std::optional<std::vector<Found>> trail = Volume(image, *geo).walk(path);
    if (!trail || trail->empty()) {
        return std::nullopt;
    }
    std::string shown = path.front() == '/' ? "/" : "";
    bool replaced = false;
    size_t from = path.find_first_not_of('/');
    for (const Found& f : *trail) {
        const std::string part = path.substr(from, path.find('/', from) - from);
        replaced = replaced || !same_name(f.entry.short_name, part);
        shown += (&f == &trail->front() ? "" : "/") + f.entry.short_name;
        from = path.find_first_not_of('/', path.find('/', from));
    }
    return replaced ? std::optional<std::string>(shown) : std::nullopt;
}

} // namespace sdsim
