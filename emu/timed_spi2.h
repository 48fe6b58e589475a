// SPI2 of the chip in standard (not enhanced) buffer mode, on the board's clock:
// a byte written to SPI2BUF shifts for 16 x (SPI2BRG + 1) peripheral clocks,
// SPIRBF and SRMT change only when it is done, one more byte may wait in the
// transmit buffer meanwhile, and a byte completed while the last one is still
// unread is lost with SPIROV set (unless SPI2CON2's IGNROV says to keep it).
//
// Where this model simplifies the chip: the card sees the whole byte, and
// answers it, at the moment it starts shifting, so a chip select changed in the
// middle of a byte acts at its start; a write to SPI2BUF while SPITBF is set is
// ignored; SPITUR (underrun) is never raised, as only a bus slave can underrun.
#pragma once

#include <cstdint>

#include "board.h"

namespace emu {

class TimedSpi2 : public sim::Spi2Timing {
  public:
    explicit TimedSpi2(sim::Board& board) : board_(board) {}

    uint32_t status() override;
    uint8_t read_buffer() override;
    void write_buffer(uint8_t out) override;
    void clear_status(uint32_t value) override;
    void switched_off() override;

    // When the status next changes by itself (a byte completes); 0 when it will not.
    uint64_t next_change_ps() const { return shifting_ ? busy_until_ : 0; }
    // The SPI2STAT bits the datasheet calls invalid in the buffer mode in force:
    // in standard mode SRMT, SPIRBE, TXBUFELM and RXBUFELM; none in enhanced mode.
    uint32_t invalid_status_bits() const;

  private:
    void settle();
    void start(uint8_t out, uint64_t at);

    sim::Board& board_;
    bool shifting_ = false;
    uint64_t busy_until_ = 0;
    uint8_t shifting_in_ = 0; // what the byte now shifting brings in
    bool tx_waiting_ = false;
    uint8_t tx_ = 0;
    bool rbf_ = false;
    uint8_t rx_ = 0;
    bool rov_ = false;
};

} // namespace emu
