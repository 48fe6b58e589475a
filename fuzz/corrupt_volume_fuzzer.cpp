// A corrupt volume: the input lies over the seed card's MBR, boot record, both
// FATs, root directory and sub-directory (and so over every entry of its
// files), and what follows is a sequence of module calls on the result.
#include <algorithm>

#include "call_script.h"
#include "seed_volume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<uint8_t> seed = fuzz::seed_volume();
    std::vector<uint8_t> image = seed;
    const size_t system = std::min<size_t>(size, fuzz::SEED_SYSTEM_BYTES);
    std::copy(data, data + system, image.begin());
    fuzz::ByteReader in(data + system, size - system);
    fuzz::FuzzSession session(std::move(image), fuzz::card_type(in));
    fuzz::run_script(session, in, fuzz::Names::Known);
    return 0;
}
