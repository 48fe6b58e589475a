// Runs the sdsim binary in a scratch directory that also holds its demo card.
#pragma once

#include <string>

#include "volume.h"

namespace sdsimtest {

struct Outcome {
    int status;
    std::string out, err;
};

// `args` is shell text; `input` goes to stdin. `env` holds arguments of env(1)
// for the run (it may end in a command that runs sdsim, such as setpriv); when
// empty, the demo card lives in the scratch directory. `redirect` follows the
// capturing redirections, so ">&-" closes stdout.
Outcome sdsim(const testsupport::ScratchDir& dir, const std::string& args, const std::string& input = "",
              const std::string& env = "", const std::string& redirect = "");

std::string demo_card(const testsupport::ScratchDir& dir);

// A file of an image, byte for byte, read with mtools.
std::string file_on(const std::string& image, const std::string& path);

} // namespace sdsimtest
