#include "interrupt_load.h"

#include <algorithm>
#include <stdexcept>

namespace emu {
namespace {

uint32_t parse_microseconds(const std::string& text, const char* what) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument(std::string(what) + " '" + text + "' is not a number of microseconds");
    }
    const size_t digits = text.size() - std::min(text.find_first_not_of('0'), text.size());
    const uint64_t value = digits > 10 ? UINT64_MAX : std::stoull(text);
    if (value == 0 || value > UINT32_MAX) {
        throw std::invalid_argument(std::string(what) + " must be from 1 to " + std::to_string(UINT32_MAX) +
                                    " microseconds, not " + text);
    }
    return static_cast<uint32_t>(value);
}

} // namespace

InterruptLoad parse_interrupt_load(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) {
        throw std::invalid_argument("'" + text + "' is not PERIOD_US:LENGTH_US");
    }
    const InterruptLoad load{parse_microseconds(text.substr(0, colon), "period"),
                             parse_microseconds(text.substr(colon + 1), "length")};
    if (load.length_us >= load.period_us) {
        throw std::invalid_argument(text + " leaves the CPU no time: the length must be below the period");
    }
    return load;
}

void check_cpu_time_left(const std::vector<InterruptLoad>& loads) {
    // A long double holds each fraction to 19 digits; a sum within 1e-12 of 1
    // leaves the CPU so little that a call would never end either.
    long double held = 0;
    for (const InterruptLoad& load : loads) {
        held += static_cast<long double>(load.length_us) / load.period_us;
    }
    if (held >= 1.0L - 1e-12L) {
        throw std::invalid_argument(
            "the interrupt loads together leave the CPU no time (the lengths over the "
            "periods add up to 1 or more)");
    }
}

} // namespace emu
