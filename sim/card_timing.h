// How long the virtual card takes over what it does, on the board's clock.
//
// Sources. The limits are those of the SD Physical Layer Simplified
// Specification: an SDHC card may take up to 100 ms from a read command to
// its data token, a single-block write may hold the card busy up to 250 ms
// (500 ms on SDXC, which this model does not offer), and a card must finish
// initialisation within 1 s of the first ACMD41. The three profiles come
// from published measurements of real SD and SDHC cards in SPI mode, as the
// project's platform notes collect them:
//
//   figure                         fast card     typical       slow card
//   read access (command to token) 0.1-0.25 ms   0.5-1 ms      1-2 ms
//   single-block write busy        0.3-1 ms      1-2 ms        about 3 ms, and a
//                                                              10-250 ms stall every
//                                                              few dozen writes
//   start-up (CMD0 to ready)       about 10 ms   30-100 ms     100 ms to 1 s
//
// Choice. `fast` and `slow` take the quick and the slow end of each range, so
// that the profiles span what users meet and a figure measured on one of
// them is a bound for that kind of card; `typical` takes the middle of its
// range. Two figures keep clear of the end of their range, because the
// limits case already covers the end: the slow card's stall (100 ms, the
// middle of 10-250 ms on a log scale rounded up, every 32nd write: "a few
// dozen") and its start-up (500 ms, halfway to the 1 s limit).
//
// Start-up runs from the first ACMD41 (or CMD1 on MMC) after each CMD0 until
// the first one that answers ready: the point from which the SD standard
// counts its 1 s, and one the card can see. It therefore costs the profile's
// time on every start-up, also one that follows a CMD0 to a card that was
// already running; that is pessimistic for cards that come back faster after
// a reset, and what a driver that restarts the card on every mount must
// budget for.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace sim {

constexpr uint64_t PS_PER_US = 1'000'000;
constexpr uint64_t PS_PER_MS = 1'000'000'000;

struct CardTiming {
    uint64_t read_access_ps; // from a read command's last frame byte to its data token
    uint64_t write_busy_ps;  // from a written block's last CRC byte to the end of busy
    uint64_t start_up_ps;    // from the first ACMD41/CMD1 after CMD0 until one answers ready
    uint32_t stall_every;    // every Nth block written stalls; 0: none does
    uint64_t stall_ps;       // busy time of a stalled write, in place of write_busy_ps
};

enum class CardProfile {
    Fast,
    Typical,
    Slow,
    Limits, // every figure at the SD standard's limit: cases a driver must still succeed with
};

// The profiles a user chooses from by name; the limits are for tests.
constexpr CardProfile NAMED_CARD_PROFILES[] = {CardProfile::Fast, CardProfile::Typical, CardProfile::Slow};

CardTiming card_timing(CardProfile profile);
const char* card_profile_name(CardProfile profile);
// "fast", "typical" or "slow"; nothing for any other text.
std::optional<CardProfile> card_profile_named(std::string_view name);
// The profile a --card-timing option names; std::invalid_argument with the
// message a user sees for any other text.
CardProfile card_timing_option(std::string_view text);

} // namespace sim
