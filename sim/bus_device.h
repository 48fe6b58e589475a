// Something that sits on the board's SPI2 bus.
#pragma once

#include <cstdint>

namespace sim {

class BusDevice {
  public:
    virtual ~BusDevice() = default;
    // One byte time on the bus: the chip sends `out`; the device returns what it
    // drives on data-in (0xFF when it does not drive the line). `selected` is
    // the level of its chip-select line (true = driven low). `now_ps` is the
    // board's time at the start of the byte, which never goes back: host
    // delays and, on the emulated chip, the CPU's own time move it on.
    virtual uint8_t exchange(uint8_t out, bool selected, uint64_t now_ps) = 0;
};

} // namespace sim
