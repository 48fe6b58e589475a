#include "timed_rig.h"

#include <stdexcept>

namespace bench {
namespace {

constexpr uint8_t READ_BLOCK_COMMAND = 0x51;
constexpr uint8_t START_TOKEN = 0xFE;
constexpr size_t TOKEN_AND_BLOCK = 1 + 512 + 2;

// Each data block that a read command brings: the first start token the card
// sends after the command byte, and the block and CRC behind it.
void add_blocks(const sim::Board& board, const std::vector<sim::BusByte>& bus, Tally& tally) {
    bool awaiting = false;
    for (size_t i = 0; i < bus.size(); ++i) {
        if (bus[i].out == READ_BLOCK_COMMAND && !bus[i].cs_high) {
            awaiting = true;
        } else if (awaiting && bus[i].in == START_TOKEN && i + TOKEN_AND_BLOCK <= bus.size()) {
            const sim::BusByte& last = bus[i + TOKEN_AND_BLOCK - 1];
            tally.block_ps += last.time_ps + board.byte_ps(last.brg) - bus[i].time_ps;
            tally.block_shifting_ps += TOKEN_AND_BLOCK * board.byte_ps(last.brg);
            awaiting = false;
            i += TOKEN_AND_BLOCK - 1;
        }
    }
}

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
    add_blocks(board_, board_.bus(), tally_);
    return r;
}

void TimedRig::check_card() const {
    if (!card_.violations().empty()) {
        throw std::runtime_error("the card saw the protocol broken: " + card_.violations().front().detail);
    }
}

} // namespace bench
