#include "timed_spi2.h"

#include "sfr.h"

namespace emu {
namespace {

constexpr uint32_t SPITBF = 1u << 1;
constexpr uint32_t SPITBE = 1u << 3;
constexpr uint32_t SPIROV = 1u << 6;
constexpr uint32_t SPIBUSY = 1u << 11;
constexpr uint32_t IGNROV = 1u << 9;
constexpr uint32_t ENHBUF = 1u << 16;
constexpr uint32_t VALID_ONLY_ENHANCED = (1u << 7) | (1u << 5) | (0x1Fu << 16) | (0x1Fu << 24);

} // namespace

void TimedSpi2::start(uint8_t out, uint64_t at) {
    shifting_in_ = board_.shift_byte(out, at);
    busy_until_ = at + board_.byte_ps(board_.spi2brg());
    shifting_ = true;
}

// Completes every byte whose last clock lies at or before the board's now.
void TimedSpi2::settle() {
    while (shifting_ && busy_until_ <= board_.now_ps()) {
        shifting_ = false;
        if (!rbf_ || (board_.spi2con2() & IGNROV)) {
            rx_ = shifting_in_;
            rbf_ = true;
        } else {
            rov_ = true;
        }
        if (tx_waiting_) {
            tx_waiting_ = false;
            start(tx_, busy_until_);
        }
    }
}

uint32_t TimedSpi2::status() {
    settle();
    uint32_t s = 0;
    s |= rbf_ ? SPI2STAT_SPIRBF : 0;
    s |= tx_waiting_ ? SPITBF : SPITBE;
    s |= rov_ ? SPIROV : 0;
    s |= shifting_ ? SPIBUSY : SPI2STAT_SRMT;
    return s;
}

uint8_t TimedSpi2::read_buffer() {
    settle();
    rbf_ = false;
    return rx_;
}

void TimedSpi2::write_buffer(uint8_t out) {
    settle();
    if (!shifting_) {
        start(out, board_.now_ps());
    } else if (!tx_waiting_) {
        tx_waiting_ = true;
        tx_ = out;
    }
}

void TimedSpi2::clear_status(uint32_t value) {
    settle();
    rov_ = rov_ && (value & SPIROV);
}

uint32_t TimedSpi2::invalid_status_bits() const {
    return (board_.spi2con() & ENHBUF) ? 0 : VALID_ONLY_ENHANCED;
}

// Switching the peripheral off resets its buffers and flags.
void TimedSpi2::switched_off() { shifting_ = tx_waiting_ = rbf_ = rov_ = false; }

} // namespace emu
