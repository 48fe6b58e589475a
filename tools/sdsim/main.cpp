// sdsim: drives the SD card module on the virtual board from the command line.
#include <iostream>

#include "demo_card.h"
#include "help.h"
#include "options.h"
#include "session.h"
#include "tool_commands.h"
#include "tool_error.h"

int main(int argc, char** argv) {
    using namespace sdsim;
    try {
        const Options options = parse_options({argv + 1, argv + argc});
        if (options.help) {
            std::cout << (options.command.empty() ? help_text() : command_help_text(options.command));
            return EXIT_QUIET;
        }
        if (options.version) {
            std::cout << version_text();
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
        Session session(image, options, std::cerr);
        run_command(session, options, prepared, std::cout);
        std::cout.flush();
        return session.printed_any() ? EXIT_MESSAGES : EXIT_QUIET;
    } catch (const std::exception& e) {
        // ToolError, or an image the card model cannot take.
        std::cout.flush();
        std::cerr << "sdsim: " << e.what() << "\n";
        return EXIT_TOOL;
    }
}
