#include "script.h"

#include <sstream>

#include "arg_count.h"
#include "module_status.h"
#include "text_format.h"
#include "tool_error.h"

namespace sdsim {

namespace {

const ArgCounts& step_arg_counts() {
    static const ArgCounts counts = {
        {"setcs", {1, 1}},   {"open", {0, 1}}, {"read", {2, 2}}, {"write", {2, 2}}, {"opendir", {0, 1}},
        {"readdir", {0, 0}}, {"load", {0, 1}}, {"save", {0, 1}}, {"call", {1, 1}},  {"status", {0, 0}},
    };
    return counts;
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

ScriptStep parse_step(int line_number, const std::string& line) {
    ScriptStep step{line_number, line, {}, words(line)};
    step.word = step.args.front();
    step.args.erase(step.args.begin());
    const ArgCount& count = arg_count_of(step_arg_counts(), step.word, "step", "");
    if (step.word == "write") {
        // The text is the rest of the line after the position, spaces included.
        const size_t word_end = line.find_first_not_of(" \t", line.find(step.word) + step.word.size());
        const size_t pos_end =
            word_end == std::string::npos ? std::string::npos : line.find_first_of(" \t", word_end);
        if (word_end == std::string::npos || pos_end == std::string::npos) {
            throw ToolError("write needs a position and a text");
        }
        step.args = {line.substr(word_end, pos_end - word_end), line.substr(pos_end + 1)};
    }
    check_arg_count(count, step.args, step.word, "");
    // Numbers and texts are checked now, so that a broken script runs no call at all.
    if (step.word == "setcs" || step.word == "call") {
        parse_int32(step.args[0], step.word + "'s argument");
    } else if (step.word == "read") {
        parse_int32(step.args[0], "POS");
        if (parse_int32(step.args[1], "COUNT") > static_cast<int32_t>(max_transfer())) {
            throw ToolError("a read moves at most " + std::to_string(max_transfer()) + " bytes");
        }
    } else if (step.word == "write") {
        parse_int32(step.args[0], "POS");
        if (unescape(step.args[1]).size() > max_transfer()) {
            throw ToolError("a write moves at most " + std::to_string(max_transfer()) + " bytes");
        }
    } else if (!step.args.empty() && step.args[0].size() > MAX_NAME) {
        throw ToolError("name longer than " + std::to_string(MAX_NAME) + " characters");
    }
    return step;
}

std::string arg_or_empty(const ScriptStep& step) { return step.args.empty() ? "" : step.args[0]; }

// "ok" when the call printed nothing, else its messages.
std::string plain(const CallResult& r) { return r.messages.empty() ? "ok" : "! " + one_line(r.messages); }

// A result with data, and the messages of the call after it.
std::string with_data(const std::string& data, const CallResult& r) {
    return r.messages.empty() ? data : data + " ! " + one_line(r.messages);
}

std::string run_step(Session& session, const ScriptStep& step) {
    const std::string& w = step.word;
    if (w == "setcs")
        return plain(session.set_cs(parse_int32(step.args[0], "PIN")));
    if (w == "open")
        return plain(session.open(arg_or_empty(step)));
    if (w == "opendir")
        return plain(session.opendir(arg_or_empty(step)));
    if (w == "save")
        return plain(session.save(arg_or_empty(step)));
    if (w == "call")
        return plain(session.call(parse_int32(step.args[0], "MODE")));
    if (w == "read") {
        const CallResult r =
            session.read(parse_int32(step.args[0], "POS"), parse_int32(step.args[1], "COUNT"));
        return with_data(std::to_string(r.value) + " " + quoted(r.data), r);
    }
    if (w == "write") {
        const CallResult r = session.write(parse_int32(step.args[0], "POS"), unescape(step.args[1]));
        // No position when nothing reached a file: none was open, the module failed, or it was past the end.
        if (!r.messages.empty()) {
            return plain(r);
        }
        return r.wrote ? "at " + std::to_string(r.value) : "nothing written";
    }
    if (w == "status") {
        ModuleStatus status;
        const CallResult r = session.status(status);
        return with_data(status_line(status), r);
    }
    if (w == "readdir") {
        const CallResult r = session.readdir();
        return with_data(r.ended ? "end" : quoted(r.data), r);
    }
    const CallResult r = session.load(arg_or_empty(step)); // the only step left
    return with_data(std::to_string(r.data.size()) + " bytes " + quoted(r.data), r);
}

} // namespace

std::vector<ScriptStep> parse_script(const std::string& script) {
    std::vector<ScriptStep> steps;
    int line_number = 0;
    for (const std::string& line : split_lines(script)) {
        ++line_number;
        const std::vector<std::string> w = words(line);
        if (w.empty() || w.front()[0] == '#') {
            continue;
        }
        try {
            steps.push_back(parse_step(line_number, line));
        } catch (const ToolError& e) {
            throw ToolError("script line " + std::to_string(line_number) + ": " + e.what());
        }
    }
    return steps;
}

void run_script(Session& session, const std::vector<ScriptStep>& steps, std::ostream& out) {
    for (const ScriptStep& step : steps) {
        std::string shown = step.word;
        for (const std::string& a : step.args) {
            shown += " " + a;
        }
        // The call runs first: its messages reach stderr before its result line.
        const std::string result = run_step(session, step);
        out << shown << " -> " << result << "\n" << std::flush;
    }
}

} // namespace sdsim
