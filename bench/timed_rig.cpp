#include "timed_rig.h"

#include <stdexcept>

namespace bench {
namespace {

sim::SdCardConfig card_config(const Card& card) {
    sim::SdCardConfig config;
    if (card.timing) {
        config.timing = sim::card_timing(*card.timing);
    }
    return config;
}

} // namespace

TimedRig::TimedRig(const std::vector<uint8_t>& image, const std::string& card_path, const Card& card,
                   const std::vector<emu::InterruptLoad>& interrupts)
    : disk_(sim::DiskImage::open_file(card_path)), card_(disk_, card_config(card)), cpu_(image, PLACEMENT) {
    cpu_.set_interrupts(interrupts);
    board_.attach(&card_, CS_PIN);
    board_.set_chip_select_option(CS_PIN);
}

sim::Returned TimedRig::run(const sim::Call& call) {
    // Bus records would otherwise grow with every byte of a long workload.
    board_.clear_logs();
    const sim::Returned r = sim::invoke(board_, cpu_, call);
    if (!board_.console().empty()) {
        throw std::runtime_error("command " + std::to_string(call.mode) + " printed " + board_.console());
    }
    return r;
}

sim::Returned TimedRig::setup(const sim::Call& call) { return run(call); }

sim::Returned TimedRig::measure(const sim::Call& call, uint64_t payload) {
    const sim::Returned r = run(call);
    ++tally_.calls;
    tally_.payload += payload;
    tally_.bus_bytes += board_.bus().size();
    tally_.time_ps += cpu_.last_call().time_ps;
    tally_.instructions += cpu_.last_call().instructions;
    for (const sim::BusByte& b : board_.bus()) {
        tally_.shifting_ps += board_.byte_ps(b.brg);
    }
    return r;
}

void TimedRig::check_card() const {
    if (!card_.violations().empty()) {
        throw std::runtime_error("the card saw the protocol broken: " + card_.violations().front().detail);
    }
}

} // namespace bench
