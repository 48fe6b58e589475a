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
        {"ls", R"(  ls [-l] [DIR]         MODE_OPENDIR, then MODE_READDIR until the end; one entry
                        per line as the module returns it ("<Dir>DATA", "README.TXT").
                        No DIR or "/" lists the root directory. With -l, each
                        line starts with the entry's size and ends with its
                        long name, where it has one.
)"},
        {"cat", R"(  cat FILE              MODE_OPEN, then raw MODE_READs of 512 bytes from the
                        running position; the bytes go to stdout.
)"},
        {"read", R"(  read FILE POS COUNT   MODE_OPEN and one MODE_READ of COUNT bytes at POS (-1: from
                        the running position); the bytes go to stdout.
)"},
        {"write", R"(  write FILE POS        MODE_OPEN and one MODE_WRITE of all bytes from stdin at POS;
                        prints the position used when bytes reached the file.
                        POS -1 is the running write position (see below): right
                        after the open that is 0, the start of the file.
                        Files are written in place: they never grow, and a
                        write at or past the end writes nothing. Every byte of
                        the file outside the ones written keeps its value.
)"},
        {"load", R"(  load FILE             MODE_LOAD; prints the text the host received: at most
                        51,198 bytes, the load buffer less its two end marks.
)"},
        {"save", R"(  save FILE [TEXTFILE]  the lines of TEXTFILE (or stdin) become the host's stored
                        program, then MODE_SAVE writes it into FILE. The growing
                        image (the native build) makes FILE when it is missing
                        and leaves it exactly as long as the text; the standard
                        image needs FILE to exist and be long enough, and ends
                        the text with two zero bytes. The text (lines with
                        CR LF) may be at most 51,198 bytes, what a load takes back.
)"},
        {"status", R"(  status                MODE_STATUS on a fresh board: the open file's pointer
                        and size (none is open yet), the last command's result
                        and the commands the image has, in words. The run step
                        status shows the same in the middle of a session.
)"},
        {"create", R"(  create FILE           MODE_CREATE: makes FILE, empty, in its directory when it
                        is missing; an existing file is only opened.
)"},
        {"truncate", R"(  truncate FILE SIZE    MODE_OPEN, then MODE_SET_SIZE: FILE becomes SIZE bytes
                        long; bytes it gains read as zero, clusters past its new
                        end are freed.
)"},
        {"append", R"(  append FILE           MODE_OPEN, then one MODE_APPEND of all bytes from stdin
                        (at most 4096) at the end of FILE, which grows; prints
                        where they went: the file's size before.
)"},
        {"rm", R"(  rm FILE               MODE_DELETE: removes FILE and its long-name entries;
                        never a directory or a read-only file.
)"},
        {"run", R"(  run SCRIPT            several calls on one card in one process ("-": the script
                        from stdin), one a line, printing one result line per call:
                          setcs PIN         MODE_SET_CS
                          open NAME         MODE_OPEN
                          read POS COUNT    MODE_READ
                          write POS TEXT    MODE_WRITE of TEXT, the rest of the line
                                            (escapes \r \n \t \0 \\ \xHH); shows
                                            "at POS", or "nothing written"
                          opendir [NAME]    MODE_OPENDIR
                          readdir           MODE_READDIR
                          load NAME         MODE_LOAD
                          save NAME         MODE_SAVE of the host's stored program
                          status            MODE_STATUS: the open file, the last
                                            result and the image's commands
                          call MODE         any command number, empty arguments
                        Blank lines and lines starting with # are skipped. Each
                        result line reads "STEP -> RESULT", with " ! MESSAGES" when
                        the module printed something during the call; those
                        messages appear there only, not on stderr as well.
)"},
    };
    return table;
}

const char* const USAGE = "usage: sdsim [OPTIONS] COMMAND [ARGS]   (options may also follow the command)\n";

const char* const ABOUT = R"(
Runs the SD card module on the virtual board, one module call per step, as an
interpreted program on the chip would, with a card image in the socket.
)";

const char* const IMAGES = R"(  create, truncate, append and rm need the growing image: the native build, or
  --target --image growing. On an image without a command a tool command or a
  run step needs (these four; write and save on the read-only image) the tool
  stops before any call, exit status 2; it asks the image's status command.
)";

const char* const PATHS = R"(  Paths are 8.3 names from the root, e.g. DATA/NUMS.TXT; the module takes at
  most 14 characters and answers "No File" to a longer name (a name that exists
  only as a long name gets a note with its 8.3 name). A single read or write
  moves at most 4096 bytes (the argument buffer).
  Position -1: a read at -1 goes on from the file position, which the open
  sets to 0 and each read (and write) moves on. A write at -1 writes at the
  running write position, which is not the end of the file: every open,
  opendir, load and save (each mounts afresh) sets it to 0, and every write,
  at -1 or not and whether or not it wrote, adds its count to it.
)";

const char* const ENDING = R"(
The module's console messages go to stderr exactly as printed (under run, in
each step's result line instead).

Exit status:
  0  the module printed nothing and no data was lost
  1  the module printed at least one message, or a call lost or skipped data
     you gave, each loss one line "sdsim: data lost: ..." on stderr: a write
     at or past the end of the file, a write cut at its end, a save cut short
     (its end marks missing), program lines over 254 characters in a save, an
     append cut where a file can grow no further (4 GiB less one byte)
  2  usage error, or a problem with the tool's own input or output (missing
     or unwritable image, unreadable script or text file, stdout full or
     closed), reported in one line on stderr
A reader that closes the pipe early (sdsim cat FILE | head) ends the run
quietly, with the status of what ran until then.

Where the tool knows more than the module says (a loaded text the host cannot
keep as it is, a path over 14 characters) it adds one line "sdsim: warning:
..." on stderr; the status stays as above. The image is opened read-only unless
the command writes.
)";

constexpr size_t HELP_COLUMN = 24;

// Each option's name and value, then its lines aligned at HELP_COLUMN.
std::string options_section() {
    std::string text = "\nOptions (--NAME VALUE or --NAME=VALUE; -- ends the options):\n";
    for (const OptionSpec& row : option_table()) {
        const std::string alias = short_form(row.name);
        std::string head = "  " + (alias.empty() ? "" : alias + ", ") + row.name;
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
    return text + IMAGES + PATHS + options_section() + ENDING;
}

std::string command_help_text(const std::string& command) {
    std::string text = "usage: sdsim [OPTIONS] " + command + " ...\n\n";
    for (const CommandHelp& c : commands()) {
        if (c.name == command) {
            text += c.text;
        }
    }
    return text + IMAGES + PATHS + options_section();
}

std::string version_text() { return "sdsim " SDSIM_VERSION "\n"; }

} // namespace sdsim
