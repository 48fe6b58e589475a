// One card session for the fuzz targets: the module's native build on a
// virtual board, driven only through its entry point, with every check the
// targets share. A failed check prints what happened and aborts, which
// libFuzzer records as a crash with the input that caused it.
//
//   - host RAM: after each call, no byte may have changed outside the
//     argument words, the part of p1 the command may fill, the state block,
//     the blocks host_alloc handed out during the call and what the host's own
//     services write (pin states, the program on a load, the chip-select byte);
//   - card writes: a write only into the data sectors of the open file; a
//     create, set size, append, delete or save only into the FATs, FSInfo,
//     the sectors of the file's directory, the file's clusters and the free
//     ones; every other call nothing. All as the bench's own reading of the
//     image finds them at the call (volume_map.h); a name that the short-name
//     rules read in more than one way widens the file and its directory to
//     every file and directory;
//   - bus budget: a call that clocks more bytes than any bounded walk of this
//     image could need is taken for a hang.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
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
    // What a command that makes, grows, shrinks or deletes the file at `path` may write.
    std::set<uint32_t> growing_writes(const std::string& path) const;
    bool file_open() const;
    void check_ram(const sim::Call& c, const std::vector<uint8_t>& before) const;

    sim::DiskImage image_;
    sim::SdCard card_;
    std::unique_ptr<BudgetedBus> bus_;
    sim::Board board_;
    sim::NativeCpu cpu_;
    uint32_t system_end_ = 0; // first data sector of the volume as the image states it
    std::string open_path_;   // the name of the call that opened the file open now
};

} // namespace fuzz
