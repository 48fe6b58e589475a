// sdsim: drives the SD card module on the virtual board from the command line.
#include <csignal>
#include <iostream>

#include "demo_card.h"
#include "fd_output.h"
#include "help.h"
#include "options.h"
#include "session.h"
#include "tool_commands.h"
#include "tool_error.h"

namespace {

constexpr size_t STDOUT_BUFFER = 64 * 1024;

} // namespace

int main(int argc, char** argv) {
    using namespace sdsim;
    hold_standard_fds();
    // A closed pipe is then an EPIPE that ends the run quietly (ReaderGone), not a signal that kills it.
    std::signal(SIGPIPE, SIG_IGN);
    FdStream out(1, "standard output", STDOUT_BUFFER);
    FdStream err(2, "standard error", 0);
    try {
        const Options options = parse_options({argv + 1, argv + argc});
        if (options.help) {
            out << (options.command.empty() ? help_text() : command_help_text(options.command)) << std::flush;
            return EXIT_QUIET;
        }
        if (options.version) {
            out << version_text() << std::flush;
            return EXIT_QUIET;
        }
        const PreparedCommand prepared = prepare_command(options, std::cin);
        std::string image;
        if (options.card) {
            image = *options.card;
        } else {
            image = demo_card_path();
            ensure_demo_card(image);
        }
        Session session(image, options, writes_image(options, prepared), err);
        try {
            run_command(session, options, prepared, out);
            out.flush();
        } catch (const ReaderGone&) {
            // The status of what ran until then.
        }
        return session.printed_any() || session.lost_data() ? EXIT_MESSAGES : EXIT_QUIET;
    } catch (const ReaderGone&) {
        return EXIT_QUIET;
    } catch (const std::exception& e) {
        // ToolError, or an image the card model cannot take.
        try {
            out.flush();
        } catch (const std::exception&) {
            // The stdout failure, if that is what this is, was caught first.
        }
        try {
            err << "sdsim: " << e.what() << "\n";
        } catch (const std::exception&) {
            // Nowhere left to tell; the status still says it.
        }
        return EXIT_TOOL;
    }
}
