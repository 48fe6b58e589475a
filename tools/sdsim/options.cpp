#include "options.h"

#include <cstdio>
#include <stdexcept>

#include "arg_count.h"
#include "text_format.h"
#include "tool_error.h"

namespace sdsim {

namespace {

const ArgCounts& command_arg_counts() {
    static const ArgCounts counts = {
        {"ls", {0, 1}},     {"cat", {1, 1}},      {"read", {3, 3}},   {"write", {2, 2}},
        {"load", {1, 1}},   {"save", {1, 2}},     {"run", {1, 1}},    {"status", {0, 0}},
        {"create", {1, 1}}, {"truncate", {2, 2}}, {"append", {1, 1}}, {"rm", {1, 1}},
    };
    return counts;
}

const std::string HINT = " (see sdsim --help)";

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

uint32_t parse_address(const std::string& text) {
    const std::optional<uint64_t> value = parse_unsigned(text, 0);
    if (!value || *value > 0xFFFFFFFFull) {
        throw ToolError("--at takes a 32-bit address such as 0x9D008000, not '" + text + "'");
    }
    return static_cast<uint32_t>(*value);
}

sim::CardProfile parse_card_timing(const std::string& text) {
    try {
        return sim::card_timing_option(text);
    } catch (const std::invalid_argument& e) {
        throw ToolError(e.what());
    }
}

std::string milliseconds(uint64_t ps) {
    char text[32];
    std::snprintf(text, sizeof text, "%g ms", static_cast<double>(ps) / static_cast<double>(sim::PS_PER_MS));
    return text;
}

// The profiles' figures, from the card model itself.
const char* card_timing_help() {
    static const std::string text = [] {
        std::string t = "fast, typical or slow: how long the card takes\n"
                        "to start up, to find a block to read and to store\n"
                        "a written one, on the board's clock. Default\n"
                        "typical, the card a user most likely has, on either\n"
                        "CPU.\n";
        for (sim::CardProfile profile : sim::NAMED_CARD_PROFILES) {
            const sim::CardTiming c = sim::card_timing(profile);
            std::string line = std::string("  ") + sim::card_profile_name(profile) + ": ";
            line.resize(11, ' ');
            t += line + milliseconds(c.start_up_ps) + ", " + milliseconds(c.read_access_ps) + ", " +
                 milliseconds(c.write_busy_ps);
            if (c.stall_every != 0) {
                t += ", and a\n" + std::string(11, ' ') + milliseconds(c.stall_ps) + " stall once in " +
                     std::to_string(c.stall_every) + " writes";
            }
            t += "\n";
        }
        return t;
    }();
    return text.c_str();
}

const std::vector<std::pair<std::string, std::string>>& short_forms() {
    static const std::vector<std::pair<std::string, std::string>> forms = {{"-h", "--help"},
                                                                           {"-l", "--long"}};
    return forms;
}

std::string long_form(const std::string& word) {
    for (const auto& [short_name, name] : short_forms()) {
        if (word == short_name) {
            return name;
        }
    }
    return word;
}

// "FIRST-LAST" or "N", calls counted from 1.
std::pair<int, int> parse_call_range(const std::string& text) {
    const size_t dash = text.find('-');
    const std::optional<uint64_t> first = parse_unsigned(text.substr(0, dash), 10);
    const std::optional<uint64_t> last =
        dash == std::string::npos ? first : parse_unsigned(text.substr(dash + 1), 10);
    if (!first || !last || *first == 0 || *first > *last || *last > INT32_MAX) {
        throw ToolError("--trace-calls takes FIRST-LAST, calls numbered from 1 (e.g. 2-5), not '" + text +
                        "'");
    }
    return {static_cast<int>(*first), static_cast<int>(*last)};
}

emu::InterruptLoad parse_interrupts(const std::string& text) {
    try {
        return emu::parse_interrupt_load(text);
    } catch (const std::invalid_argument& e) {
        throw ToolError(std::string("--interrupts ") + e.what());
    }
}

const OptionSpec* find_option(const std::string& name) {
    for (const OptionSpec& row : option_table()) {
        if (name == row.name) {
            return &row;
        }
    }
    return nullptr;
}

// A negative number is a command's argument (read FILE -1 5), and "-" means stdin.
bool is_option(const std::string& word) {
    return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

} // namespace

const std::vector<OptionSpec>& option_table() {
    static const std::vector<OptionSpec> table = {
        {"--card", "IMAGE",
         "the card image (a FAT volume, whole or partitioned), or\n"
         "a block device: a card in a reader, e.g. /dev/sdb;\n"
         "writes go into it. Without it, the demo card is\n"
         "used, created on first use with mkfs.fat and mcopy at\n"
         "$SDSIM_DEMO_CARD, else $XDG_CACHE_HOME/sdsim/demo.img,\n"
         "else ~/.cache/sdsim/demo.img (delete it to start afresh).\n",
         [](Options& o, const std::string& v) { o.card = v; }},
        {"--kind", "KIND",
         "the card in the socket: sdhc (SD version 2, block\n"
         "addressed; the default), sdsc (SD version 2, byte\n"
         "addressed), sdv1 (SD version 1) or mmc.\n",
         [](Options& o, const std::string& v) { o.kind = parse_kind(v); }},
        {"--package", "28|44",
         "the chip's package, which decides the card-bus pins\n"
         "(default 28). The card's chip select is wired to pin 4,\n"
         "which the host's options already name.\n",
         [](Options& o, const std::string& v) { o.package = parse_package(v); }},
        {"--target", nullptr,
         "run a chip image in the emulator (the standard one\n"
         "unless --image says) instead of the module's native\n"
         "build, which is the growing image: it has every command.\n",
         [](Options& o, const std::string&) { o.target = true; }},
        {"--trace", "FILE",
         "write the card bus (cs, sck, mosi, miso) to FILE as a\n"
         "Value Change Dump, with the chip's timing under --target.\n",
         [](Options& o, const std::string& v) { o.trace = v; }},
        {"--trace-calls", "FIRST-LAST",
         "with --trace: trace only module calls FIRST to LAST\n"
         "(or one call N), so a long run's dump stays small.\n"
         "Calls are numbered from 1 in the order sdsim makes them:\n"
         "ls: 1 opendir, 2 on readdir; cat: 1 open, 2 on one read\n"
         "of 512 bytes each; read, write, truncate, append:\n"
         "1 open, 2 the command; load, save, status, create, rm:\n"
         "1; run: one call per step.\n",
         [](Options& o, const std::string& v) { o.trace_calls = parse_call_range(v); }},
        {"--image", "IMAGE",
         "with --target: the chip image to run. readonly,\n"
         "standard (the default) or growing: that one of the\n"
         "build's three (build/target/sdcard-readonly.bin,\n"
         "sdcard.bin, sdcard-growing.bin). Else a file, the very\n"
         "one you program: Intel HEX (build/target/sdcard.ihex;\n"
         "its addresses place the image) or a flat binary\n"
         "(placed by --at); ./growing names a file so named.\n",
         [](Options& o, const std::string& v) { o.image = v; }},
        {"--at", "ADDRESS",
         "with --target: the flash address to run the image at:\n"
         "word-aligned, 0x9D001000 to 0x9D03FFFF (KSEG0) or\n"
         "0xBD001000 to 0xBD03FFFF (KSEG1, the same flash),\n"
         "with the whole image inside flash; the rule the build\n"
         "keeps for SDCARD_LOAD_ADDRESS. Default 0x9D008000 for\n"
         "a binary; for Intel HEX it must agree with the file.\n",
         [](Options& o, const std::string& v) { o.at = parse_address(v); }},
        {"--card-timing", "PROFILE", card_timing_help(),
         [](Options& o, const std::string& v) { o.card_timing = parse_card_timing(v); }},
        {"--long", nullptr,
         "with ls: each entry's size and, beside the 8.3 name,\n"
         "its long name where it has one (the tool reads them\n"
         "from the image itself; the module lists 8.3 names).\n",
         [](Options& o, const std::string&) { o.long_listing = true; }},
        {"--interrupts", "PERIOD_US:LENGTH_US",
         "with --target: the host's interrupts hold the CPU for\n"
         "LENGTH_US microseconds every PERIOD_US, while SPI2 and\n"
         "the card go on; the first pause falls one period after\n"
         "power-up. Repeatable: each load runs on a timer of its own.\n",
         [](Options& o, const std::string& v) { o.interrupts.push_back(parse_interrupts(v)); }},
        {"--fault", "FAULT", fault_help(), [](Options& o, const std::string& v) { add_fault(o.faults, v); }},
        {"--version", nullptr, "the tool's version.\n",
         [](Options& o, const std::string&) { o.version = true; }},
        {"--help", nullptr, "this text; after a command, that command's help.\n",
         [](Options& o, const std::string&) { o.help = true; }},
    };
    return table;
}

std::string short_form(const std::string& name) {
    for (const auto& [short_name, long_name] : short_forms()) {
        if (name == long_name) {
            return short_name;
        }
    }
    return "";
}

Options parse_options(const std::vector<std::string>& argv) {
    Options options;
    std::vector<std::string> words;
    bool options_ended = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        if (options_ended || !is_option(a)) {
            words.push_back(a);
            continue;
        }
        if (a == "--") {
            options_ended = true;
            continue;
        }
        const size_t equals = a.find('=');
        const std::string name = long_form(a.substr(0, equals));
        const OptionSpec* row = find_option(name);
        if (row == nullptr) {
            throw ToolError("unknown option " + name + HINT);
        }
        std::string value;
        if (row->value == nullptr) {
            if (equals != std::string::npos) {
                throw ToolError("option " + name + " takes no value");
            }
        } else if (equals != std::string::npos) {
            value = a.substr(equals + 1);
        } else if (i + 1 < argv.size()) {
            value = argv[++i];
        } else {
            throw ToolError("option " + name + " needs a value");
        }
        row->apply(options, value);
    }
    if (!words.empty()) {
        options.command = words.front();
        options.args.assign(words.begin() + 1, words.end());
    }
    if (options.help || options.version) {
        if (!options.command.empty()) {
            arg_count_of(command_arg_counts(), options.command, "command", HINT);
        }
        return options;
    }
    if (options.command.empty()) {
        throw ToolError("no command given" + HINT);
    }
    if (options.trace_calls && !options.trace) {
        throw ToolError("--trace-calls goes with --trace" + HINT);
    }
    if ((options.image || options.at) && !options.target) {
        throw ToolError("--image and --at go with --target" + HINT);
    }
    if (options.long_listing && options.command != "ls") {
        throw ToolError("--long goes with ls" + HINT);
    }
    if (!options.interrupts.empty() && !options.target) {
        throw ToolError("--interrupts goes with --target: the native build keeps no time" + HINT);
    }
    try {
        emu::check_cpu_time_left(options.interrupts);
    } catch (const std::invalid_argument& e) {
        throw ToolError(std::string("--interrupts: ") + e.what());
    }
    check_arg_count(arg_count_of(command_arg_counts(), options.command, "command", HINT), options.args,
                    options.command, HINT);
    return options;
}

} // namespace sdsim
