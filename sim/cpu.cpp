#include "cpu.h"

#include <algorithm>

namespace sim {

Returned invoke(Board& board, Cpu& cpu, const Call& call) {
    board.set_ram_u32(RAM_MODE, static_cast<uint32_t>(call.mode));
    board.set_ram_u32(RAM_P2, static_cast<uint32_t>(call.p2));
    board.set_ram_u32(RAM_P3, static_cast<uint32_t>(call.p3));
    board.set_ram_u32(RAM_P4, static_cast<uint32_t>(call.p4));
    board.set_ram_bytes(RAM_P1, call.p1);
    board.begin_call();
    cpu.call_main(board);
    return {static_cast<int32_t>(board.ram_u32(RAM_MODE)), static_cast<int32_t>(board.ram_u32(RAM_P2)),
            static_cast<int32_t>(board.ram_u32(RAM_P3)), static_cast<int32_t>(board.ram_u32(RAM_P4)),
            board.ram_bytes(RAM_P1, RAM_P1_SIZE)};
}

std::vector<uint8_t> counted(const std::string& text) {
    // Sized up front: GCC 12 at -O2 misreads an insert after push_back as an overflow.
    std::vector<uint8_t> bytes(text.size() + 1);
    bytes[0] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), bytes.begin() + 1);
    return bytes;
}

std::vector<uint8_t> data_arg(const std::vector<uint8_t>& data) {
    const size_t start = data_start(static_cast<int64_t>(data.size()));
    // Sized up front, as counted() is.
    std::vector<uint8_t> p1(start + data.size());
    if (start != 0) {
        p1[0] = static_cast<uint8_t>(data.size());
    }
    std::copy(data.begin(), data.end(), p1.begin() + static_cast<std::ptrdiff_t>(start));
    return p1;
}

} // namespace sim
