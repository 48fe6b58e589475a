#include "card_faults.h"

#include "text_format.h"
#include "tool_error.h"

namespace sdsim {

namespace {

uint64_t parse_count(const std::string& text, const std::string& given) {
    const std::optional<uint64_t> value = parse_unsigned(text, 10);
    if (!value || *value == 0) {
        throw ToolError("--fault " + given + ": '" + text + "' is not a bus byte number from 1 on");
    }
    return *value;
}

// N:B of glitch@N:B and glitch-out@N:B.
sim::BitFlip parse_flip(const std::string& arg, const std::string& name, const std::string& given) {
    const size_t colon = arg.find(':');
    const std::string bit = colon == std::string::npos ? "" : arg.substr(colon + 1);
    if (bit.size() != 1 || bit[0] < '0' || bit[0] > '7') {
        throw ToolError("--fault " + given + ": " + name + "@N:B takes a bit B from 0 to 7");
    }
    return {parse_count(arg.substr(0, colon), given), static_cast<uint8_t>(bit[0] - '0')};
}

} // namespace

const char* fault_help() {
    return "power-cut@N (the card loses power after the Nth bus\n"
           "byte, counted from the first module call), glitch@N:B\n"
           "(bit B, 0 to 7, of the Nth byte the chip receives arrives\n"
           "flipped), glitch-out@N:B (the same for the Nth byte the\n"
           "card receives; the card acts on the byte as it arrives),\n"
           "no-card, never-ready, refuse-cmd55, error-token,\n"
           "no-token, crc-error, write-error (data responses 0x0B and\n"
           "0x0D), busy-forever. Repeatable. After the run sdsim says\n"
           "on stderr whether the fault fired, and in which call.\n";
}

void add_fault(FaultPlan& plan, const std::string& given) {
    sim::SdCardFaults& f = plan.faults;
    const size_t at = given.find('@');
    const std::string name = given.substr(0, at);
    const std::string arg = at == std::string::npos ? "" : given.substr(at + 1);
    const bool takes_arg = name == "power-cut" || name == "glitch" || name == "glitch-out";
    const std::string unknown =
        "unknown fault '" + given +
        "'; --fault takes power-cut@N, glitch@N:B, glitch-out@N:B, no-card, never-ready, refuse-cmd55, "
        "error-token, no-token, crc-error, write-error or busy-forever";
    if (takes_arg == (at == std::string::npos)) {
        throw ToolError(unknown);
    }
    if (name == "power-cut") {
        f.power_cut_after = parse_count(arg, given);
    } else if (name == "glitch") {
        f.glitches.push_back(parse_flip(arg, name, given));
    } else if (name == "glitch-out") {
        f.glitches_out.push_back(parse_flip(arg, name, given));
    } else if (name == "no-card") {
        plan.no_card = true;
    } else if (name == "never-ready") {
        f.never_ready = true;
    } else if (name == "refuse-cmd55") {
        f.refuse_cmd55 = true;
    } else if (name == "error-token") {
        f.read_token = 0x01;
    } else if (name == "no-token") {
        f.read_token = 0xFF;
    } else if (name == "crc-error") {
        f.data_response = 0x0B;
    } else if (name == "write-error") {
        f.data_response = 0x0D;
    } else if (name == "busy-forever") {
        f.busy_forever = true;
    } else {
        throw ToolError(unknown);
    }
    plan.given.push_back(given);
}

} // namespace sdsim
