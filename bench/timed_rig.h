// A card image in the socket of a board whose chip runs the module's image in
// the emulator on a clock true to the chip, and what a workload's calls cost.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card_pin.h"
#include "card_timing.h"
#include "emu_cpu.h"
#include "sd_card.h"

namespace bench {

struct Tally {
    uint64_t calls = 0;
    uint64_t payload = 0; // bytes the calls moved for the program
    uint64_t bus_bytes = 0;
    uint64_t time_ps = 0; // on the chip, host delays included
    uint64_t instructions = 0;
    uint64_t shifting_ps = 0; // of that time, with a byte on the bus
    // Data blocks read, from the start of the token to the end of the CRC:
    // how long they took and how much of it the bus was shifting.
    uint64_t block_ps = 0;
    uint64_t block_shifting_ps = 0;
};

// The card a workload runs on: one of the timing profiles, or none, the card
// model's delays counted in bytes clocked (a 2-byte read gap, 4 busy bytes),
// which makes the bus bytes the module's own traffic whatever the clock.
struct Card {
    const char* name;
    std::optional<sim::CardProfile> timing;
};

class TimedRig {
  public:
    static constexpr int8_t CS_PIN = testsupport::CARD_CS_PIN;
    static constexpr uint32_t PLACEMENT = 0x9D008000; // not the link address

    TimedRig(const std::vector<uint8_t>& image, const std::string& card_path, const Card& card,
             const std::vector<emu::InterruptLoad>& interrupts);

    // Prepares a workload; not counted.
    sim::Returned setup(const sim::Call& call);
    // Counted, with the payload bytes the call moves.
    sim::Returned measure(const sim::Call& call, uint64_t payload);
    // Payload known only once a counted call has returned.
    void add_payload(uint64_t bytes) { tally_.payload += bytes; }

    sim::Board& board() { return board_; }
    emu::EmuCpu& cpu() { return cpu_; }
    const Tally& tally() const { return tally_; }
    // Throws when the card saw the protocol broken.
    void check_card() const;

  private:
    sim::Returned run(const sim::Call& call);

    sim::Board board_;
    sim::DiskImage disk_;
    sim::SdCard card_;
    emu::EmuCpu cpu_;
    Tally tally_;
};

} // namespace bench
