// The commands of sdsim other than the option handling: ls, cat, read, write,
// load, save and run.
#pragma once

#include <istream>
#include <ostream>

#include "options.h"
#include "script.h"
#include "session.h"

namespace sdsim {

// Checks what the command needs from the tool's own input before any module call.
struct PreparedCommand {
    std::vector<uint8_t> input;     // write: the bytes to write
    std::vector<std::string> lines; // save: the program
    std::vector<ScriptStep> steps;  // run: the script, checked whole before anything runs
};
PreparedCommand prepare_command(const Options& options, std::istream& in);

// Whether the command may write to the card image; the image is opened read-only otherwise.
bool writes_image(const Options& options, const PreparedCommand& prepared);

void run_command(Session& session, const Options& options, const PreparedCommand& prepared,
                 std::ostream& out);

} // namespace sdsim
