#include "help.h"

#include <algorithm>
#include <vector>

#include "options.h"

namespace sdsim {

namespace {

struct CommandHelp {
    const char* name;
    const char* text; // the usage line, then the description indented
};

const std::vector<CommandHelp>& commands() {
    static const std::vector<CommandHelp> table = {
        {"ls", R"(  ls [DIR]              MODE_OPENDIR, then MODE_READDIR until the end; one entry
                        per line as the module returns it ("<Dir>DATA", "README.TXT").
                        No DIR or "/" lists the root directory.
)"},
        {"cat", R"(  cat FILE              MODE_OPEN, then raw MODE_READs of 512 bytes from the
                        running position; the bytes go to stdout.
)"},
        {"read", R"(  read FILE POS COUNT   MODE_OPEN and one MODE_READ of COUNT bytes at POS (-1: from
                        the running position); the bytes go to stdout.
)"},
        {"write", R"(  write FILE POS        MODE_OPEN and one MODE_WRITE of all bytes from stdin at POS
                        (-1: at the running write position); prints the position used.
                        Files are written in place: they never grow, and a
                        write at or past the end writes nothing. Every byte of
                        the file outside the ones written keeps its value.
)"},
        {"load", R"(  load FILE             MODE_LOAD; prints the text the host received: at most
                        51,198 bytes, the load buffer less its two end marks.
)"},
        {"save", R"(  save FILE [TEXTFILE]  the lines of TEXTFILE (or stdin) become the host's stored
                        program, then MODE_SAVE writes it into FILE, which must
                        already exist and be long enough. The text (lines with
                        CR LF) may be at most 51,198 bytes, what a load takes back.
)"},
        {"run", R"(  run SCRIPT            several calls on one card in one process ("-": the script
                        from stdin), one a line, printing one result line per call:
                          setcs PIN         MODE_SET_CS
                          open NAME         MODE_OPEN
                          read POS COUNT    MODE_READ
                          write POS TEXT    MODE_WRITE of TEXT, the rest of the line
                                            (escapes \r \n \t \0 \\ \xHH)
                          opendir [NAME]    MODE_OPENDIR
                          readdir           MODE_READDIR
                          load NAME         MODE_LOAD
                          save NAME         MODE_SAVE of the host's stored program
                          call MODE         any command number, empty arguments
                        Blank lines and lines starting with # are skipped. Each
                        result line reads "STEP -> RESULT", with " ! MESSAGES" when
                        the module printed something during the call.
)"},
    };
    return table;
}

const char* const USAGE = "usage: sdsim [OPTIONS] COMMAND [ARGS]   (options may also follow the command)\n";

const char* const ABOUT = R"(
Runs the SD card module on the virtual board, one module call per step, as an
interpreted program on the chip would, with a card image in the socket.
)";

const char* const PATHS = R"(  Paths are 8.3 names from the root, e.g. DATA/NUMS.TXT; the module takes at
  most 14 characters and answers "No File" to a longer name. A single read or
  write moves at most 4096 bytes (the argument buffer).
)";

const char* const ENDING = R"(
The module's console messages go to stderr exactly as printed.

Exit status:
  0  the module printed nothing
  1  the module printed at least one message
  2  usage error, or a problem with the tool's own input or output (missing
     or unwritable image, unreadable script or text file, stdout full or
     closed), reported in one line on stderr

Where the tool knows that a call lost data (a write past the end, a save cut
short, lines the host cannot keep, a path over 14
characters) it adds one line "sdsim: warning: ..." on stderr; the exit status
stays the module's. The image is opened read-only unless the command writes.
)";

constexpr size_t HELP_COLUMN = 24;

// Each option's name and value, then its lines aligned at HELP_COLUMN.
std::string options_section() {
    std::string text = "\nOptions (--NAME VALUE or --NAME=VALUE; -- ends the options):\n";
    for (const OptionSpec& row : option_table()) {
        std::string head = std::string("  ") + (row.name == std::string("--help") ? "-h, " : "") + row.name;
        if (row.value != nullptr) {
            head += std::string(" ") + row.value;
        }
        const std::string help = row.help;
        for (size_t start = 0; start < help.size();) {
            const size_t end = help.find('\n', start);
            head.resize(std::max(head.size() + 1, HELP_COLUMN), ' ');
            text += head + help.substr(start, end - start) + "\n";
            head.clear();
            start = end + 1;
        }
    }
    return text;
}

} // namespace

std::string help_text() {
    std::string text = std::string(USAGE) + ABOUT + "\nCommands:\n";
    for (const CommandHelp& command : commands()) {
        text += command.text;
    }
    return text + PATHS + options_section() + ENDING;
}

std::string command_help_text(const std::string& command) {
    std::string text = "usage: sdsim [OPTIONS] " + command + " ...\n\n";
    for (const CommandHelp& c : commands()) {
        if (c.name == command) {
            text += c.text;
        }
    }
    return text + PATHS + options_section();
}

std::string version_text() { return "sdsim " SDSIM_VERSION "\n"; }

} // namespace sdsim
