// A board with a card made by the real FAT tools, driven only through the
// module's entry point, so that every check holds for either CPU: arguments,
// results and the host's memory live in the board's RAM, the card's contents
// are read back with mtools.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "backend.h"
#include "board.h"
#include "card_pin.h"
#include "cpu.h"
#include "disk_image.h"
#include "sd_card.h"
#include "volume.h"

namespace e2e {

// A FAT16 volume of 4 MiB, one sector per cluster, at sector 0.
testsupport::VolumeSpec small_volume();

class Bench {
  public:
    explicit Bench(const testsupport::VolumeSpec& shape = small_volume());

    testsupport::Volume& volume() { return volume_; }
    sim::Board& board() { return board_; }
    const sim::SdCard& card() const { return *card_; }

    // Puts the image, as the tools left it, into the socket; the host's option
    // record already names the chip-select pin.
    void insert_card(sim::SdCardConfig config = {});
    // From now on the card stores every block, wherever it goes: for commands
    // that make, grow and delete files, which write FATs and directories.
    void allow_any_write();

    // One call of the module with fresh logs of the board and the card; a card
    // protocol violation during the call fails the test.
    sim::Returned call(int32_t mode, std::vector<uint8_t> p1 = {0}, int32_t p2 = 0, int32_t p3 = 0,
                       int32_t p4 = 0);
    sim::Returned open(const std::string& name);
    // MODE_READ into a zeroed argument buffer; the data bytes only (after the length byte in string form).
    std::vector<uint8_t> read(int32_t pos, int32_t count, int32_t* got = nullptr);
    // MODE_WRITE of `data` in the form its size selects; returns the position the module used.
    int32_t write(int32_t pos, const std::vector<uint8_t>& data);

    int32_t append_pos() const;
    std::string console() const { return board_.console(); }

  private:
    testsupport::ScratchDir dir_;
    testsupport::Volume volume_;
    sim::Board board_;
    std::unique_ptr<sim::DiskImage> image_;
    std::unique_ptr<sim::SdCard> card_;
    std::unique_ptr<sim::Cpu> cpu_;
    bool any_write_ = false;
};

std::vector<uint8_t> bytes(const std::string& text);

} // namespace e2e
