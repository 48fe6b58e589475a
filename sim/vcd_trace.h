// The card bus as a Value Change Dump (IEEE 1364) that waveform viewers and
// protocol decoders open: cs, sck, mosi and miso in SPI mode 3 (clock idle
// high, data changing on the falling edge, taken on the rising one), at the
// times the board recorded. Only changes are written, so idle time costs
// nothing and a long run stays a usable size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "board.h"

namespace sim {

class VcdTrace {
  public:
    // Throws std::runtime_error with the system's reason when the file cannot be written.
    explicit VcdTrace(const std::string& path);
    ~VcdTrace();
    VcdTrace(const VcdTrace&) = delete;
    VcdTrace& operator=(const VcdTrace&) = delete;

    // Adds the board's bus bytes and chip-select edges as they stand; the
    // caller clears the board's logs before the next add.
    void add(const Board& board);
    // Marks the end of the run, so that idle time after the last change shows.
    void finish(uint64_t end_ps);
    // Makes `ps` the dump's time 0, before anything is added: a dump of the
    // later part of a run then holds no idle time for the part left out.
    void start_at(uint64_t ps) { origin_ps_ = ps; }

  private:
    enum Signal { Cs, Sck, Mosi, Miso, SIGNALS };
    void change(uint64_t ps, Signal signal, bool level);
    void stamp(uint64_t ps);
    void flush();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string buffer_;
    bool level_[SIGNALS] = {true, true, true, true};
    uint64_t last_time_ = 0; // in the dump's unit
    uint64_t origin_ps_ = 0;
};

} // namespace sim
