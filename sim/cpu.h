// A CPU that runs the module on the board: the native build, or the chip image
// in the emulator. Arguments and results travel through the board's RAM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "board.h"

namespace sim {

class Cpu {
  public:
    virtual ~Cpu() = default;
    // Calls the module's entry point with the five argument pointers of the
    // RAM layout; the board is the one the module then sees.
    virtual void call_main(Board& board) = 0;
    virtual std::string name() const = 0;
};

struct Call {
    int32_t mode = 0;
    std::vector<uint8_t> p1; // placed at the start of the p1 buffer
    int32_t p2 = 0;
    int32_t p3 = 0;
    int32_t p4 = 0;
};

struct Returned {
    int32_t mode, p2, p3, p4;
    std::vector<uint8_t> p1; // the whole p1 buffer after the call
};

// Writes the call's arguments into RAM, runs the module once and reads back.
Returned invoke(Board& board, Cpu& cpu, const Call& call);

// A counted string: length byte, then the characters.
std::vector<uint8_t> counted(const std::string& text);

// The form of a read's or write's data at p1 (commands 2, 3 and 11): a count
// below 256 is a counted string, its bytes after the length byte; from 256
// on the bytes start at p1 itself.
constexpr int32_t COUNTED_DATA_LIMIT = 256;
// Where the data of a call with `count` starts in p1.
constexpr size_t data_start(int64_t count) { return count < COUNTED_DATA_LIMIT ? 1 : 0; }
// p1 of a write of `data`, in the form its size asks for.
std::vector<uint8_t> data_arg(const std::vector<uint8_t>& data);

} // namespace sim
