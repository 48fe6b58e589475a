// Any calls on a well-formed card: names of any length and bytes, positions
// and counts at their extremes, command numbers outside 0 to 7, in any order.
#include "call_script.h"
#include "seed_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> seed = fuzz::seed_volume();
    fuzz::ByteReader in(data, size);
    fuzz::FuzzSession session(seed, fuzz::card_type(in));
    fuzz::run_script(session, in, fuzz::Names::Any);
    return 0;
}
