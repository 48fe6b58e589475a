#include "card_timing.h"

#include <stdexcept>
#include <string>

namespace sim {

CardTiming card_timing(CardProfile profile) {
    switch (profile) {
    case CardProfile::Fast: return {100 * PS_PER_US, 300 * PS_PER_US, 10 * PS_PER_MS, 0, 0};
    case CardProfile::Typical: return {750 * PS_PER_US, 1500 * PS_PER_US, 65 * PS_PER_MS, 0, 0};
    case CardProfile::Slow: return {2 * PS_PER_MS, 3 * PS_PER_MS, 500 * PS_PER_MS, 32, 100 * PS_PER_MS};
    case CardProfile::Limits: return {100 * PS_PER_MS, 250 * PS_PER_MS, 1000 * PS_PER_MS, 0, 0};
    }
    return card_timing(CardProfile::Typical);
}

const char* card_profile_name(CardProfile profile) {
    switch (profile) {
    case CardProfile::Fast: return "fast";
    case CardProfile::Typical: return "typical";
    case CardProfile::Slow: return "slow";
    case CardProfile::Limits: return "limits";
    }
    return "?";
}

std::optional<CardProfile> card_profile_named(std::string_view name) {
    for (CardProfile profile : NAMED_CARD_PROFILES) {
        if (name == card_profile_name(profile)) {
            return profile;
        }
    }
    return std::nullopt;
}

CardProfile card_timing_option(std::string_view text) {
    const std::optional<CardProfile> profile = card_profile_named(text);
    if (!profile) {
        throw std::invalid_argument("--card-timing takes fast, typical or slow, not '" + std::string(text) +
                                    "'");
    }
    return *profile;
}

} // namespace sim
