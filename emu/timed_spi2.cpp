#include "timed_spi2.h"

#include "sfr.h"

namespace emu {
namespace {

constexpr uint32_t IGNROV = 1u << 9;

} // namespace

bool TimedSpi2::enhanced() const { return (board_.spi2con() & SPI2CON_ENHBUF) != 0; }

uint32_t TimedSpi2::invalid_status_bits() const {
    return enhanced() ? 0 : SPI2STAT_SRMT | SPI2STAT_SPIRBE | SPI2STAT_TXBUFELM | SPI2STAT_RXBUFELM;
}

void TimedSpi2::start(uint8_t out, uint64_t at) {
    shifting_in_ = board_.shift_byte(out, at);
    busy_until_ = at + board_.byte_ps(board_.spi2brg());
    shifting_ = true;
}

// Completes every byte whose last clock lies at or before the board's now.
void TimedSpi2::settle() {
    while (shifting_ && busy_until_ <= board_.now_ps()) {
        shifting_ = false;
        if (rx_.size() < depth()) {
            rx_.push_back(shifting_in_);
        } else if (!enhanced() && (board_.spi2con2() & IGNROV)) {
            rx_.back() = shifting_in_;
        } else {
            rov_ = true;
        }
        if (!tx_.empty()) {
            const uint8_t next = tx_.front();
            tx_.pop_front();
            start(next, busy_until_);
        }
    }
}

uint32_t TimedSpi2::status() {
    settle();
    uint32_t s = 0;
    s |= rx_.size() == depth() ? SPI2STAT_SPIRBF : 0;
    s |= rx_.empty() ? SPI2STAT_SPIRBE : 0;
    s |= tx_.size() == depth() ? SPI2STAT_SPITBF : 0;
    s |= tx_.empty() ? SPI2STAT_SPITBE : 0;
    s |= rov_ ? SPI2STAT_SPIROV : 0;
    s |= shifting_ ? SPI2STAT_SPIBUSY : SPI2STAT_SRMT;
    s |= static_cast<uint32_t>(tx_.size()) << 16;
    s |= static_cast<uint32_t>(rx_.size()) << 24;
    return s;
}

uint8_t TimedSpi2::read_buffer() {
    settle();
    if (!rx_.empty()) {
        rx_last_ = rx_.front();
        rx_.pop_front();
    }
    return rx_last_;
}

void TimedSpi2::write_buffer(uint8_t out) {
    settle();
    if (!shifting_) {
        start(out, board_.now_ps());
    } else if (tx_.size() < depth()) {
        tx_.push_back(out);
    }
}

void TimedSpi2::clear_status(uint32_t value) {
    settle();
    rov_ = rov_ && (value & SPI2STAT_SPIROV);
}

// Switching the peripheral off empties its buffers and clears its flags.
void TimedSpi2::switched_off() {
    shifting_ = rov_ = false;
    tx_.clear();
    rx_.clear();
}

} // namespace emu
