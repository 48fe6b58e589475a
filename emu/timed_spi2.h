// SPI2 of the chip on the board's clock, in both buffer modes (DS60001168F,
// SPI chapter and Register 16-3): a byte written to SPI2BUF shifts for
// 16 x (SPI2BRG + 1) peripheral clocks once the shift register is free; the
// byte received moves to the receive side when it is done.
//
// - Standard buffer mode: one byte may wait in the transmit buffer while one
//   shifts, and the receive buffer holds one byte. A byte completed while the
//   last one is still unread is discarded and SPIROV set (unless SPI2CON2's
//   IGNROV says to overwrite). SRMT, SPIRBE and the element counts are not
//   valid in this mode: invalid_status_bits() names them for the emulator,
//   which stops a call that reads one.
// - Enhanced buffer mode (SPI2CON ENHBUF): transmit and receive FIFOs of 16
//   bytes each; SPITBF/SPIRBF mean full, SPITBE/SPIRBE empty, TXBUFELM and
//   RXBUFELM count the bytes in each. A byte completed while the receive FIFO
//   is full is discarded and SPIROV set.
//
// As a master, SPI2 clocks only the bytes written: when the CPU stops writing
// (a pause), the bus stops once the transmit side is empty.
//
// Where this model simplifies the chip: the card sees the whole byte, and
// answers it, at the moment it starts shifting, so a chip select changed in the
// middle of a byte acts at its start; a write to SPI2BUF while the transmit
// side is full is ignored; SPITUR (underrun) is never raised, as only a bus
// slave can underrun; switching ENHBUF while SPI2 is on acts at once.
#pragma once

#include <cstdint>
#include <deque>

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
    // SPI2STAT bits that the data sheet calls invalid in the buffer mode in force.
    uint32_t invalid_status_bits() const;

  private:
    bool enhanced() const;
    size_t depth() const { return enhanced() ? SPI2_DEPTH : 1; }
    void settle();
    void start(uint8_t out, uint64_t at);

    static constexpr size_t SPI2_DEPTH = 16;

    sim::Board& board_;
    bool shifting_ = false;
    uint64_t busy_until_ = 0;
    uint8_t shifting_in_ = 0; // what the byte now shifting brings in
    std::deque<uint8_t> tx_;  // waiting for the shift register
    std::deque<uint8_t> rx_;  // received, not yet read
    uint8_t rx_last_ = 0;     // what a read of an empty receive side returns
    bool rov_ = false;
};

} // namespace emu
