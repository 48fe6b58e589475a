#include "options.h"

#include <map>

#include "tool_error.h"

namespace sdsim {

namespace {

struct CommandShape {
    size_t min_args, max_args;
};

const std::map<std::string, CommandShape>& command_shapes() {
    static const std::map<std::string, CommandShape> shapes = {
        {"ls", {0, 1}},   {"cat", {1, 1}},  {"read", {3, 3}}, {"write", {2, 2}},
        {"load", {1, 1}}, {"save", {1, 2}}, {"run", {1, 1}},
    };
    return shapes;
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
    const auto shape = command_shapes().find(options.command);
    if (shape == command_shapes().end()) {
        throw ToolError("unknown command '" + options.command + "' (see sdsim --help)");
    }
    if (options.args.size() < shape->second.min_args || options.args.size() > shape->second.max_args) {
        throw ToolError("wrong number of arguments for '" + options.command + "' (see sdsim --help)");
    }
    return options;
}

} // namespace sdsim
