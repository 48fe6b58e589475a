// What the image does with a word it has just loaded, read from the
// instructions after the load in the same straight-line block of code: which
// bits it examines, and whether the block is a loop that polls the word until
// a bit selection of it changes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace emu {

// The bits of the word loaded by words[load] that its first consumer in the
// block examines: an andi its immediate; an ext its field; a shift the bits
// that reach the andi or branch that tests the shifted value; bltz/bgez bit
// 31; a branch, compare or any other use of the whole register every bit. A
// store of the whole value examines none, and neither does a value that is
// overwritten or leaves the block unexamined.
uint32_t examined_bits(std::span<const uint32_t> words, uint32_t load);

// A block that loads a word (after the lui that form its address, which
// code without filled delay slots leaves inside the loop), selects bits of it
// with andi, ext and shifts, and branches back to its own start while the
// selection is zero (or while it is not), with nothing in the branch's delay
// slot. Every turn does the same with the same word, so turns that would read
// the same word can be counted without being run.
class PollLoop {
  public:
    static std::optional<PollLoop> recognise(std::span<const uint32_t> words);
    // Whether a turn that reads `word` goes round again.
    bool continues(uint32_t word) const;
    uint32_t load() const { return load_; } // the load's index in the block

  private:
    std::vector<uint32_t> selection_; // the instructions between the load and the branch
    uint32_t load_ = 0;
    bool while_zero_ = false;
};

} // namespace emu
