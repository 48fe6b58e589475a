#include "block_exit.h"

namespace emu {

BlockExit mips32_exit(std::span<const uint32_t> words) {
    if (words.size() < 2) {
        return {};
    }
    const uint32_t w = words[words.size() - 2];
    const uint32_t opcode = w >> 26, funct = w & 63;
    if (opcode == 0 && (funct == 0x08 || funct == 0x09)) { // jr, jalr
        return {BlockExit::Kind::Register, static_cast<int>((w >> 21) & 31)};
    }
    if (opcode == 0x1D) { // jalx
        return {BlockExit::Kind::Toggle};
    }
    return {};
}

} // namespace emu
