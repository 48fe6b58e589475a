// Hand-made volumes for geometries mkfs.fat will not produce: exact cluster
// counts at the type boundaries, odd root sizes, marker and partition quirks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fattest {

struct BootFields {
    uint8_t csize = 1;
    uint16_t rsvd = 1;
    uint8_t nfats = 1;
    uint16_t root_entries = 512;
    uint32_t fatsz = 16;
    uint32_t total = 0; // 0: the sectors that make `clusters` data clusters
    uint32_t clusters = 0;
    uint32_t root_clus = 2; // FAT32 only
    bool fa54 = true;       // "FA" in the FAT12/16 type field
    bool fa82 = false;      // "FA" in the FAT32 type field
};

class CraftedVolume {
  public:
    // A volume at sector `bsect` of an image large enough for every cluster;
    // `bits` (12, 16 or 32) is the FAT layout that set_fat writes.
    CraftedVolume(const BootFields& boot, int bits, uint32_t bsect = 0);

    uint32_t fatbase() const { return bsect_ + boot_.rsvd; }
    uint32_t rootbase() const { return fatbase() + boot_.fatsz * boot_.nfats; }
    uint32_t database() const { return rootbase() + (boot_.root_entries + 15u) / 16; }
    uint32_t cluster_sector(uint32_t clst) const { return database() + (clst - 2) * boot_.csize; }

    void set_fat(uint32_t clst, uint32_t value);
    // Writes a chain through `clusters`, ending with an end mark of the layout.
    void chain(const std::vector<uint32_t>& clusters);
    // Puts a 32-byte entry with an 11-byte name into the directory sector `sect`, slot `slot`.
    void entry(uint32_t sect, uint32_t slot, const std::string& name11, uint8_t attr, uint32_t first_cluster,
               uint32_t size);
    void write(uint32_t sector, uint32_t offset, const std::vector<uint8_t>& bytes);
    // A master boot record in sector 0 whose first entry has `type` and starts at `start`.
    void partition_entry(int index, uint8_t type, uint32_t start);

    std::vector<uint8_t>& bytes() { return image_; }

  private:
    BootFields boot_;
    int bits_;
    uint32_t bsect_;
    std::vector<uint8_t> image_;
};

} // namespace fattest
