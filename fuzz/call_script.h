// Decodes a fuzz input into a sequence of module calls and runs them on the
// image with every command: command numbers, names, positions, sizes and
// counts, with the values at the edges of each range more likely than any
// other. Each call is an op byte (the command is op mod 13; with any names, op
// 0xF0 and up is followed by a raw command word), then its arguments: a
// position (read, write) or a size (set size) is a pick byte, then a word when
// the pick is past the edge values; a count (read, write, append) likewise
// (its word taken mod 4097); a name (open, opendir, load, save, create,
// delete) is a pick byte (known names) or a length byte, a byte count and the
// bytes; the data of a write or an append is one fill byte after its count.
#pragma once

#include "byte_reader.h"
#include "fuzz_session.h"

namespace fuzz {

enum class Names {
    Known, // names of the seed volume's files and directories, and a few that are not there
    Any,   // counted strings of any length byte and any bytes, and command numbers outside 0 to 12
};

sim::CardType card_type(ByteReader& in);
void run_script(FuzzSession& session, ByteReader& in, Names names);

} // namespace fuzz
