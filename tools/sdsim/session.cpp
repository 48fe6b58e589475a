#include "session.h"

#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "cpu_factory.h"
#include "sdtypes.h"
#include "tool_error.h"

namespace sdsim {

namespace {

constexpr int32_t STRING_FORM_LIMIT = 256;

sim::DiskImage open_image(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw ToolError("card image '" + path + "' does not exist or is not a file");
    }
    try {
        return sim::DiskImage::open_file(path);
    } catch (const std::runtime_error& e) {
        throw ToolError("cannot open card image '" + path + "': " + e.what());
    }
}

sim::SdCardConfig card_config(CardKind kind) {
    sim::SdCardConfig config;
    switch (kind) {
    case CardKind::Sdhc: config.type = sim::CardType::Sd2Block; break;
    case CardKind::Sdsc: config.type = sim::CardType::Sd2Byte; break;
    case CardKind::Sdv1: config.type = sim::CardType::Sd1; break;
    case CardKind::Mmc: config.type = sim::CardType::Mmc; break;
    }
    return config;
}

std::vector<uint8_t> name_string(const std::string& name) {
    if (name.size() > MAX_NAME) {
        throw ToolError("name longer than " + std::to_string(MAX_NAME) + " characters");
    }
    return sim::counted(name);
}

} // namespace

uint32_t max_transfer() { return sim::RAM_P1_SIZE; }

Session::Session(const std::string& image_path, const Options& options, std::ostream& console)
    : image_(open_image(image_path)), card_(image_, card_config(options.kind)),
      cpu_(make_cpu(options.target)), console_(console) {
    board_.set_devid(options.package == 44 ? sim::DEVID_44PIN : sim::DEVID_28PIN);
    board_.attach(&card_, CARD_CS_PIN);
    board_.set_chip_select_option(CARD_CS_PIN);
    if (options.trace) {
        try {
            trace_ = std::make_unique<sim::VcdTrace>(*options.trace);
        } catch (const std::runtime_error& e) {
            throw ToolError(e.what());
        }
    }
}

Session::~Session() {
    if (trace_) {
        try {
            trace_->finish(board_.now_ps());
        } catch (const std::runtime_error& e) {
            std::cerr << "sdsim: " << e.what() << '\n';
        }
    }
}

sim::Returned Session::invoke(const sim::Call& call, CallResult& result) {
    // Logs would otherwise grow with every byte on the bus for the whole run.
    board_.clear_logs();
    card_.clear_logs();
    sim::Returned returned{};
    try {
        returned = sim::invoke(board_, *cpu_, call);
    } catch (const std::exception&) {
        // The bus up to a fault belongs in the trace too.
        if (trace_) {
            trace_->add(board_);
        }
        throw;
    }
    if (trace_) {
        trace_->add(board_);
    }
    result.messages = board_.console();
    if (!result.messages.empty()) {
        printed_any_ = true;
        console_ << result.messages << std::flush;
    }
    // Limits of the virtual host (its program memory, its allocation arena)
    // are the bench's, not the module's: say so rather than cut silently.
    for (; faults_reported_ < board_.faults().size(); ++faults_reported_) {
        std::cerr << "sdsim: virtual board: " << board_.faults()[faults_reported_] << '\n';
    }
    return returned;
}

CallResult Session::set_cs(int32_t pin) {
    CallResult result;
    sim::Call call{MODE_SET_CS, {}, 0, 0, 0};
    for (int shift = 0; shift < 32; shift += 8) {
        call.p1.push_back(static_cast<uint8_t>(static_cast<uint32_t>(pin) >> shift));
    }
    invoke(call, result);
    return result;
}

CallResult Session::open(const std::string& name) {
    CallResult result;
    invoke({MODE_OPEN, name_string(name), 0, 0, 0}, result);
    return result;
}

CallResult Session::read(int32_t pos, int32_t count) {
    if (count > static_cast<int32_t>(max_transfer())) {
        throw ToolError("a read moves at most " + std::to_string(max_transfer()) + " bytes");
    }
    CallResult result;
    const sim::Returned r = invoke({MODE_READ, {0}, pos, count, 0}, result);
    result.value = r.p4;
    const size_t n = r.p4 > 0 ? static_cast<size_t>(r.p4) : 0;
    const size_t from = count < STRING_FORM_LIMIT ? 1 : 0;
    result.data.assign(r.p1.begin() + static_cast<std::ptrdiff_t>(from),
                       r.p1.begin() + static_cast<std::ptrdiff_t>(from + n));
    return result;
}

CallResult Session::write(int32_t pos, const std::vector<uint8_t>& data) {
    if (data.size() > max_transfer()) {
        throw ToolError("a write moves at most " + std::to_string(max_transfer()) + " bytes");
    }
    const int32_t count = static_cast<int32_t>(data.size());
    std::vector<uint8_t> p1;
    if (count < STRING_FORM_LIMIT) {
        p1.push_back(static_cast<uint8_t>(count));
    }
    p1.insert(p1.end(), data.begin(), data.end());
    CallResult result;
    const sim::Returned r = invoke({MODE_WRITE, p1, pos, count, 0}, result);
    result.value = r.p2;
    return result;
}

CallResult Session::opendir(const std::string& name) {
    CallResult result;
    invoke({MODE_OPENDIR, name_string(name), 0, 0, 0}, result);
    return result;
}

CallResult Session::readdir() {
    CallResult result;
    // The module leaves the string untouched at the end; an entry is never empty.
    const sim::Returned r = invoke({MODE_READDIR, {0}, 0, 0, 0}, result);
    result.ended = r.p1[0] == 0;
    result.data.assign(r.p1.begin() + 1, r.p1.begin() + 1 + r.p1[0]);
    return result;
}

CallResult Session::load(const std::string& name) {
    CallResult result;
    invoke({MODE_LOAD, name_string(name), 0, 0, 0}, result);
    if (!board_.loaded_programs().empty()) {
        const std::string& text = board_.loaded_programs().back();
        result.data.assign(text.begin(), text.end());
    }
    return result;
}

CallResult Session::save(const std::string& name) {
    CallResult result;
    invoke({MODE_SAVE, name_string(name), 0, 0, 0}, result);
    return result;
}

CallResult Session::call(int32_t mode) {
    CallResult result;
    invoke({mode, {0}, 0, 0, 0}, result);
    return result;
}

void Session::set_program(const std::vector<std::string>& lines) {
    size_t needed = 1;
    for (const std::string& line : lines) {
        if (line.find('\0') != std::string::npos) {
            throw ToolError("a program line holds a zero byte");
        }
        needed += line.size() + 2;
    }
    if (needed > sim::RAM_PROGRAM_SIZE) {
        throw ToolError("the program is larger than the host's program memory (" +
                        std::to_string(sim::RAM_PROGRAM_SIZE) + " bytes)");
    }
    board_.set_program(lines);
}

} // namespace sdsim
