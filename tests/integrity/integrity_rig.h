// A card made by the real FAT tools, held in memory, on a virtual board that
// runs the module's native build: fast enough to repeat one command thousands
// of times with a fault at a different bus byte each time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board.h"
#include "card_pin.h"
#include "disk_image.h"
#include "native_cpu.h"
#include "sd_card.h"
#include "volume.h"

namespace integrity {

// A FAT16 or FAT32 volume of two sectors per cluster: a write can spill into
// a second sector inside a cluster or cross into the next cluster.
testsupport::VolumeSpec volume_shape(int fat);

class Rig {
  public:
    explicit Rig(std::vector<uint8_t> image_bytes);

    // A fresh card in the socket: power-up state, the given faults.
    void power_up(sim::SdCardConfig config = {});
    void remove_card();

    // One module call with fresh board logs.
    sim::Returned call(int32_t mode, std::vector<uint8_t> p1 = {0}, int32_t p2 = 0, int32_t p3 = 0);
    sim::Returned open(const std::string& name);
    sim::Returned write(int32_t pos, const std::vector<uint8_t>& data);
    // MODE_READ in raw form (count of at least 256).
    std::vector<uint8_t> read_raw(int32_t pos, int32_t count);

    // Puts sectors back as `original` holds them and forgets the write log.
    void restore(const std::vector<uint8_t>& original);

    sim::Board board;
    sim::DiskImage image;
    std::unique_ptr<sim::SdCard> card;

  private:
    sim::NativeCpu cpu_;
};

std::vector<uint8_t> sector_of(const std::vector<uint8_t>& image, uint32_t sector);

// Program lines whose text runs over a sector boundary when saved.
std::vector<std::string> program_lines(int count);

} // namespace integrity
