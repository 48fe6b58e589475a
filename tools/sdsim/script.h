// Scripts for `sdsim run`: several module calls on one card in one process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "session.h"

namespace sdsim {

struct ScriptStep {
    int line;         // in the script, from 1
    std::string text; // the step as written
    std::string word; // setcs, open, read, write, opendir, readdir, load, save, call, status
    std::vector<std::string> args;
};

// Checks the whole script before anything runs; throws ToolError naming the line.
std::vector<ScriptStep> parse_script(const std::string& script);

// Runs the steps in order and prints one result line per call.
void run_script(Session& session, const std::vector<ScriptStep>& steps, std::ostream& out);

} // namespace sdsim
