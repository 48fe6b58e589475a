// Something that sits on the board's SPI2 bus.
#pragma once

#include <cstdint>

namespace sim {

class BusDevice {
  public:
    virtual ~BusDevice() = default;
    // One byte time on the bus: the chip sends `out`; the device returns what it
    // drives on data-in (0xFF when it does not drive the line). `selected` is
    // the level of its chip-select line (true = driven low).
    virtual uint8_t exchange(uint8_t out, bool selected) = 0;
    // Virtual time that passes without bus traffic (host delays).
    virtual void idle(uint64_t /*picoseconds*/) {}
};

} // namespace sim
