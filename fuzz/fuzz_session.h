// One card session for the fuzz targets: the module's native build on a
// virtual board, driven only through its entry point, with every check the
// targets share. A failed check prints what happened and aborts, which
// libFuzzer records as a crash with the input that caused it.
//
//   - host RAM: after each call, no byte may have changed outside the
//     argument words, the part of p1 the command may fill, the state block,
//     the blocks host_alloc handed out during the call and what the host's own
//     services write (pin states, the program on a load, the chip-select byte);
//   - card writes: only the data sectors of the file the session opened, as
//     the bench's own reading of the image finds them (never sector 0 or the
//     volume's system area);
//   - bus budget: a call that clocks more bytes than any bounded walk of this
//     image could need is taken for a hang.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board.h"
#include "cpu.h"
#include "disk_image.h"
#include "native_cpu.h"
#include "sd_card.h"

namespace fuzz {

class FuzzSession {
  public:
    FuzzSession(std::vector<uint8_t> image, sim::CardType type);
    ~FuzzSession();
    FuzzSession(const FuzzSession&) = delete;
    FuzzSession& operator=(const FuzzSession&) = delete;

    // Runs one module call with every check; the call's results.
    sim::Returned call(const sim::Call& c);
    sim::Board& board() { return board_; }

  private:
    class BudgetedBus;
    void allow_writes_for(int32_t mode, const std::vector<uint8_t>& p1);
    void check_ram(const sim::Call& c, const std::vector<uint8_t>& before) const;

    sim::DiskImage image_;
    sim::SdCard card_;
    std::unique_ptr<BudgetedBus> bus_;
    sim::Board board_;
    sim::NativeCpu cpu_;
    uint32_t system_end_ = 0; // first data sector of the volume as the image states it
};

} // namespace fuzz
