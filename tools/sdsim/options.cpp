#include "options.h"

#include "arg_count.h"
#include "tool_error.h"

namespace sdsim {

namespace {

const ArgCounts& command_arg_counts() {
    static const ArgCounts counts = {
        {"ls", {0, 1}},   {"cat", {1, 1}},  {"read", {3, 3}}, {"write", {2, 2}},
        {"load", {1, 1}}, {"save", {1, 2}}, {"run", {1, 1}},
    };
    return counts;
}

CardKind parse_kind(const std::string& text) {
    if (text == "sdhc")
        return CardKind::Sdhc;
    if (text == "sdsc")
        return CardKind::Sdsc;
    if (text == "sdv1")
        return CardKind::Sdv1;
    if (text == "mmc")
        return CardKind::Mmc;
    throw ToolError("unknown card kind '" + text + "' (sdhc, sdsc, sdv1 or mmc)");
}

int parse_package(const std::string& text) {
    if (text == "28")
        return 28;
    if (text == "44")
        return 44;
    throw ToolError("unknown package '" + text + "' (28 or 44)");
}

} // namespace

Options parse_options(const std::vector<std::string>& argv) {
    Options options;
    size_t i = 0;
    auto value_of = [&](const std::string& option) -> std::string {
        if (i + 1 >= argv.size()) {
            throw ToolError("option " + option + " needs a value");
        }
        return argv[++i];
    };
    for (; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (a == "--help" || a == "-h") {
            options.help = true;
            return options;
        } else if (a == "--card") {
            options.card = value_of(a);
        } else if (a == "--kind") {
            options.kind = parse_kind(value_of(a));
        } else if (a == "--package") {
            options.package = parse_package(value_of(a));
        } else if (a == "--target") {
            options.target = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            throw ToolError("unknown option " + a + " (see sdsim --help)");
        } else {
            break;
        }
    }
    if (i == argv.size()) {
        throw ToolError("no command given (see sdsim --help)");
    }
    options.command = argv[i++];
    options.args.assign(argv.begin() + static_cast<std::ptrdiff_t>(i), argv.end());
    const std::string hint = " (see sdsim --help)";
    check_arg_count(arg_count_of(command_arg_counts(), options.command, "command", hint), options.args,
                    options.command, hint);
    return options;
}

} // namespace sdsim
