#include "pause_schedule.h"

#include <algorithm>

namespace emu {
namespace {

constexpr uint64_t PS_PER_US = 1'000'000;

} // namespace

void PauseSchedule::set_loads(const std::vector<InterruptLoad>& loads, uint64_t now_ps) {
    check_cpu_time_left(loads);
    timers_.clear();
    for (const InterruptLoad& load : loads) {
        const uint64_t period = load.period_us * PS_PER_US;
        timers_.push_back({period, load.length_us * PS_PER_US, now_ps + period});
    }
}

PauseSchedule::Timer* PauseSchedule::earliest() {
    Timer* first = nullptr;
    for (Timer& t : timers_) {
        if (first == nullptr || t.due_ps < first->due_ps) {
            first = &t;
        }
    }
    return first;
}

uint64_t PauseSchedule::next_due_ps() const {
    uint64_t due = UINT64_MAX;
    for (const Timer& t : timers_) {
        due = std::min(due, t.due_ps);
    }
    return due;
}

std::optional<uint64_t> PauseSchedule::one_shot_instruction() const {
    return armed_ ? std::optional<uint64_t>(armed_->instruction) : std::nullopt;
}

uint64_t PauseSchedule::catch_up(uint64_t time_ps, uint64_t instruction) {
    uint64_t added = 0;
    if (armed_ && instruction >= armed_->instruction) {
        added += armed_->length_ps;
        armed_.reset();
    }
    // Each pause taken may bring the next one due; the loads leave the CPU
    // some time, so this ends.
    for (Timer* t = earliest(); t != nullptr && t->due_ps <= time_ps + added; t = earliest()) {
        added += t->length_ps;
        t->due_ps += t->period_ps;
    }
    return added;
}

uint64_t PauseSchedule::absorb_delay(uint64_t start_ps, uint64_t length_ps) {
    const uint64_t end = start_ps + length_ps;
    uint64_t busy_until = start_ps; // the end of the pause that runs now
    for (Timer* t = earliest(); t != nullptr && t->due_ps < end; t = earliest()) {
        busy_until = std::max(busy_until, t->due_ps) + t->length_ps;
        t->due_ps += t->period_ps;
    }
    return busy_until > end ? busy_until - end : 0;
}

} // namespace emu
