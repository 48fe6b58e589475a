// The chip-select pin that the tests and the fuzz targets wire the card to
// and name in the chip-select command (command 0).
#pragma once

#include <cstdint>

namespace testsupport {

constexpr int8_t CARD_CS_PIN = 7;

} // namespace testsupport
