#include "tool_commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>

#include "fat_listing.h"
#include "module_status.h"
#include "script.h"
#include "sdtypes.h"
#include "text_format.h"
#include "tool_error.h"

namespace sdsim {

namespace {

constexpr int32_t CAT_PIECE = 512;
// A directory holds at most 65,536 entries; a longer listing means a looped chain.
constexpr int MAX_LISTING = 65536;

// A read error must not pass for empty input: a save would then clear the file.
std::string read_stream(std::istream& in, const std::string& what) {
    try {
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // Standard input reads through stdio, which reports an error only there.
        if (&in == &std::cin && std::ferror(stdin)) {
            throw ToolError("cannot read " + what + " from standard input: " + std::strerror(errno));
        }
        return text;
    } catch (const std::ios_base::failure&) {
        throw ToolError("cannot read " + what);
    }
}

std::string read_file(const std::string& path, const std::string& what) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ToolError("cannot read " + what + " '" + path + "': " + std::strerror(errno));
    }
    return read_stream(in, what + " '" + path + "'");
}

void put(std::ostream& out, const std::vector<uint8_t>& bytes) {
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

constexpr const char* DIR_MARK = "<Dir>"; // how the module marks a directory in a listing
constexpr int SIZE_COLUMN = 10;
constexpr size_t NAME_COLUMN = 17; // "<Dir>" and an 8.3 name

// One -l line: the size and long name from the tool's own reading of the
// image, beside the entry exactly as the module returned it.
std::string long_line(const std::string& entry, const std::optional<std::vector<ListedEntry>>& own) {
    const bool directory = entry.rfind(DIR_MARK, 0) == 0;
    const std::string short_name = directory ? entry.substr(std::strlen(DIR_MARK)) : entry;
    std::optional<ListedEntry> found;
    if (own) {
        const auto named = std::find_if(own->begin(), own->end(), [&](const ListedEntry& e) {
            return e.short_name == short_name && e.directory == directory;
        });
        if (named != own->end()) {
            found = *named;
        }
    }
    char size[16];
    std::snprintf(size, sizeof size, "%*s", SIZE_COLUMN,
                  !found      ? "?"
                  : directory ? "-"
                              : std::to_string(found->size).c_str());
    std::string line = std::string(size) + "  " + entry;
    if (found && !found->long_name.empty()) {
        line.resize(std::max(line.size() + 2, SIZE_COLUMN + 2 + NAME_COLUMN + 2), ' ');
        line += found->long_name;
    }
    return line;
}

void list(Session& session, const std::string& dir, bool long_listing, std::ostream& out) {
    session.opendir(dir);
    const std::optional<std::vector<ListedEntry>> own =
        long_listing ? list_directory(session.image(), dir) : std::nullopt;
    for (int n = 0; n < MAX_LISTING; ++n) {
        const CallResult r = session.readdir();
        if (r.ended) {
            return;
        }
        if (long_listing) {
            out << long_line(std::string(r.data.begin(), r.data.end()), own) << "\n";
        } else {
            put(out, r.data);
            out << "\n";
        }
    }
    throw ToolError("the listing of '" + dir + "' does not end");
}

void cat(Session& session, const std::string& file, std::ostream& out) {
    session.open(file);
    for (;;) {
        const CallResult r = session.read(-1, CAT_PIECE);
        put(out, r.data);
        if (r.value < CAT_PIECE) {
            return;
        }
    }
}

// The module commands each tool command and script step needs beyond those every image has.
int32_t needed_command(const std::string& word) {
    static const std::map<std::string, int32_t> needs = {
        {"write", MODE_WRITE},       {"save", MODE_SAVE},     {"create", MODE_CREATE},
        {"truncate", MODE_SET_SIZE}, {"append", MODE_APPEND}, {"rm", MODE_DELETE},
    };
    const auto found = needs.find(word);
    return found == needs.end() ? -1 : found->second;
}

// Refuses, before any call of the run, a command the image does not have: the
// module would take it as a number it does not know and do nothing.
void require(Session& session, const std::string& word) {
    const int32_t mode = needed_command(word);
    if (mode >= 0 && !session.image_has(mode)) {
        throw ToolError(word + ": the image has no command " + std::to_string(mode) + " (" +
                        command_name(mode) +
                        "); sdsim status lists its commands, and the growing image (the native build, "
                        "--target --image growing) has them all");
    }
}

} // namespace

PreparedCommand prepare_command(const Options& options, std::istream& in) {
    PreparedCommand prepared;
    const std::vector<std::string>& a = options.args;
    const std::string& c = options.command;
    if (c == "read") {
        parse_int32(a[1], "POS");
        if (parse_int32(a[2], "COUNT") > static_cast<int32_t>(max_transfer())) {
            throw ToolError("a read moves at most " + std::to_string(max_transfer()) + " bytes");
        }
    } else if (c == "write" || c == "append") {
        if (c == "write") {
            parse_int32(a[1], "POS");
        }
        const std::string data = read_stream(in, "the data to " + c);
        if (data.size() > max_transfer()) {
            throw ToolError("a" + std::string(c == "write" ? " write" : "n append") + " moves at most " +
                            std::to_string(max_transfer()) + " bytes");
        }
        prepared.input.assign(data.begin(), data.end());
    } else if (c == "truncate") {
        if (parse_int32(a[1], "SIZE") < 0) {
            throw ToolError("SIZE is a number of bytes, 0 or more");
        }
    } else if (c == "save") {
        const std::string text =
            a.size() > 1 && a[1] != "-" ? read_file(a[1], "program text") : read_stream(in, "program text");
        prepared.lines = split_lines(text);
    } else if (c == "run") {
        prepared.steps = parse_script(a[0] == "-" ? read_stream(in, "script") : read_file(a[0], "script"));
    }
    // Every command but run names a file or directory first.
    if (c != "run" && !a.empty() && a[0].size() > MAX_NAME) {
        throw ToolError("name longer than " + std::to_string(MAX_NAME) + " characters");
    }
    return prepared;
}

bool writes_image(const Options& options, const PreparedCommand& prepared) {
    // The commands that change the card are those that need more than every image has.
    const auto writes = [](const std::string& word) { return needed_command(word) >= 0; };
    if (writes(options.command)) {
        return true;
    }
    // A call step may be any command, a write among them.
    return std::any_of(prepared.steps.begin(), prepared.steps.end(),
                       [&](const ScriptStep& step) { return writes(step.word) || step.word == "call"; });
}

void run_command(Session& session, const Options& options, const PreparedCommand& prepared,
                 std::ostream& out) {
    const std::vector<std::string>& a = options.args;
    const std::string& c = options.command;
    require(session, c);
    for (const ScriptStep& step : prepared.steps) {
        require(session, step.word);
    }
    if (c == "ls") {
        list(session, a.empty() ? "" : a[0], options.long_listing, out);
    } else if (c == "cat") {
        cat(session, a[0], out);
    } else if (c == "read") {
        session.open(a[0]);
        put(out, session.read(parse_int32(a[1], "POS"), parse_int32(a[2], "COUNT")).data);
    } else if (c == "write") {
        session.open(a[0]);
        const CallResult r = session.write(parse_int32(a[1], "POS"), prepared.input);
        if (r.wrote) {
            out << r.value << "\n";
        }
    } else if (c == "load") {
        put(out, session.load(a[0]).data);
    } else if (c == "save") {
        session.set_program(prepared.lines);
        session.save(a[0]);
    } else if (c == "run") {
        session.echo_messages(false); // each call's messages are in its result line
        run_script(session, prepared.steps, out);
    } else if (c == "status") {
        ModuleStatus status;
        session.status(status);
        out << status_lines(status);
    } else if (c == "create") {
        session.create(a[0]);
    } else if (c == "truncate") {
        session.open(a[0]);
        session.set_size(parse_int32(a[1], "SIZE"));
    } else if (c == "append") {
        session.open(a[0]);
        const CallResult r = session.append(prepared.input);
        if (r.wrote) {
            out << r.value << "\n";
        }
    } else if (c == "rm") {
        session.remove(a[0]);
    }
}

} // namespace sdsim
