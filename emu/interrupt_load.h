// A host interrupt load as a user gives it: the CPU is held for LENGTH_US
// every PERIOD_US (written PERIOD_US:LENGTH_US), as a timer tick or a console
// UART holds the chip's CPU while SPI2 and the card go on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emu {

struct InterruptLoad {
    uint32_t period_us;
    uint32_t length_us;
};

// Throws std::invalid_argument, saying why, for anything but two whole
// numbers of microseconds, PERIOD:LENGTH, from 1 on, LENGTH below PERIOD.
InterruptLoad parse_interrupt_load(const std::string& text);

// Throws std::invalid_argument when the loads together hold the CPU all the
// time (the sum of LENGTH / PERIOD is 1 or more): no call could ever end.
void check_cpu_time_left(const std::vector<InterruptLoad>& loads);

} // namespace emu
