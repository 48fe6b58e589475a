#include "session.h"

#include <cstddef>
#include <iostream>

#include "cpu_factory.h"
#include "fat_listing.h"
#include "image_features.h"
#include "sdtypes.h"
#include "state.h"
#include "tool_error.h"
#include "volume_check.h"

namespace sdsim {

namespace {

constexpr size_t MODULE_MAX_PATH = 14; // the module's name buffer
constexpr size_t HOST_MAX_LINE = 254;  // what the host lists of a stored line

sim::DiskImage open_image(const std::string& path, bool writable) {
    try {
        return sim::DiskImage::open_file(path, writable ? sim::DiskImage::Access::ReadWrite
                                                        : sim::DiskImage::Access::ReadOnly);
    } catch (const std::runtime_error& e) {
        throw ToolError(std::string("card image: ") + e.what());
    }
}

sim::SdCardConfig card_config(const Options& options) {
    sim::SdCardConfig config;
    config.faults = options.faults.faults;
    config.timing = sim::card_timing(options.card_timing);
    switch (options.kind) {
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

Session::Session(const std::string& image_path, const Options& options, bool writable, std::ostream& console)
    : image_path_(image_path), image_(open_image(image_path, writable)), card_(image_, card_config(options)),
      cpu_(make_cpu(options)), console_(console), volume_problem_(volume_problem(image_)),
      fault_plan_(options.faults), trace_calls_(options.trace_calls) {
    board_.set_devid(options.package == 44 ? sim::DEVID_44PIN : sim::DEVID_28PIN);
    board_.attach(fault_plan_.no_card ? nullptr : &card_, CARD_CS_PIN);
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
    try {
        report_faults();
    } catch (const std::exception&) {
        // Nowhere left to tell.
    }
    if (trace_) {
        try {
            trace_->finish(trace_calls_ ? traced_until_ps_ : board_.now_ps());
        } catch (const std::runtime_error& e) {
            std::cerr << "sdsim: " << e.what() << '\n';
        }
    }
}

void Session::warn(const std::string& text) { console_ << "sdsim: warning: " << text << '\n'; }

void Session::lost(const std::string& text) {
    lost_data_ = true;
    console_ << "sdsim: data lost: " << text << '\n';
}

sim::Returned Session::invoke(const sim::Call& call, CallResult& result) {
    // Logs would otherwise grow with every byte on the bus for the whole run.
    board_.clear_logs();
    card_.clear_logs();
    const int number = calls_ + 1;
    const bool traced =
        trace_ && (!trace_calls_ || (number >= trace_calls_->first && number <= trace_calls_->second));
    if (traced && trace_calls_ && number == trace_calls_->first) {
        trace_->start_at(board_.now_ps());
    }
    sim::Returned returned{};
    try {
        returned = sim::invoke(board_, *cpu_, call);
    } catch (const std::exception&) {
        // The bus up to a fault belongs in the trace too, and a card fault
        // that acted before the emulator stopped the call in its report.
        if (traced) {
            trace_->add(board_);
        }
        note_fault(call.mode);
        throw;
    }
    if (traced) {
        trace_->add(board_);
        traced_until_ps_ = board_.now_ps();
    }
    note_fault(call.mode);
    result.messages = board_.console();
    if (!result.messages.empty()) {
        printed_any_ = true;
        if (echo_messages_) {
            console_ << result.messages << std::flush;
        }
    }
    // Once, at the first mount, beside whatever the module made of the volume.
    if (names_a_file(call.mode) && volume_problem_) {
        console_ << "sdsim: " << image_path_ << ": " << *volume_problem_ << '\n';
        volume_problem_.reset();
    }
    // Limits of the virtual host (its program memory, its allocation arena)
    // are the bench's, not the module's: say so rather than cut silently.
    for (; faults_reported_ < board_.faults().size(); ++faults_reported_) {
        console_ << "sdsim: virtual board: " << board_.faults()[faults_reported_] << '\n';
    }
    return returned;
}

// The first call in which a --fault acted: the card says so for its own
// faults; an empty socket acts as soon as the module clocks the bus.
void Session::note_fault(int32_t mode) {
    ++calls_;
    if (fault_plan_.given.empty() || fault_fired_) {
        return;
    }
    const std::string call = "call " + std::to_string(calls_) + " (" + command_name(mode) + ")";
    if (fault_plan_.no_card && !board_.bus().empty()) {
        fault_fired_ = "the module found the socket empty in " + call;
    } else if (!fault_plan_.no_card && card_.fault_fired_at() != 0) {
        fault_fired_ = "fired at bus byte " + std::to_string(card_.fault_fired_at()) + ", in " + call;
    }
}

void Session::report_faults() {
    if (fault_plan_.given.empty()) {
        return;
    }
    std::string listed;
    for (const std::string& fault : fault_plan_.given) {
        listed += (listed.empty() ? "" : ", ") + fault;
    }
    console_ << "sdsim: fault " << listed << ": " << fault_fired_.value_or("did not fire") << '\n'
             << std::flush;
}

std::optional<uint32_t> Session::open_file_size() const {
    const FATFS* fs =
        reinterpret_cast<const FATFS*>(board_.ram() + sim::RAM_STATE + offsetof(STATE_BLOCK, FatFs));
    if (fs->fs_type == 0 || (fs->flag & FLAG_OPEN) == 0) {
        return std::nullopt;
    }
    return fs->fsize;
}

void Session::warn_long_path(const std::string& name) {
    if (name.size() > MODULE_MAX_PATH) {
        warn("the module takes at most " + std::to_string(MODULE_MAX_PATH) + " characters: " + name + " is " +
             std::to_string(name.size()));
    }
}

// The module takes 8.3 names only; a name it did not find may be the long name of one.
void Session::note_long_name(const std::string& name, const CallResult& result) {
    if (result.messages.find("No File") == std::string::npos) {
        return;
    }
    if (const std::optional<std::string> short_path = short_path_for(image_, name)) {
        console_ << "sdsim: note: \"" << name << "\" is the long name of " << *short_path
                 << "; the module takes 8.3 names\n";
    }
}

// Whether any of the bytes reached the file, saying what did not.
bool Session::check_write(int32_t pos, uint32_t count) {
    const std::optional<uint32_t> size = open_file_size();
    if (!size || pos < 0) {
        return false;
    }
    const uint32_t start = static_cast<uint32_t>(pos);
    if (count == 0) {
        return true;
    }
    if (start >= *size) {
        lost("the write at " + std::to_string(start) + " wrote nothing: the file is " +
             std::to_string(*size) + " bytes long and never grows");
        return false;
    }
    const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{start} + count, *size));
    if (end - start < count) {
        lost("only " + std::to_string(end - start) + " of " + std::to_string(count) +
             " bytes were written: the file is " + std::to_string(*size) + " bytes long and never grows");
    }
    return true;
}

void Session::warn_loaded_text(const std::string& name, const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            warn(name + " has line ends without CR: the host ends a line only at CR LF, so those lines run "
                        "together");
            break;
        }
    }
    size_t line = 1;
    for (size_t start = 0; start < text.size(); ++line) {
        const size_t end = std::min(text.find("\r\n", start), text.size());
        if (end - start > HOST_MAX_LINE) {
            warn("line " + std::to_string(line) + " of " + name + " has " + std::to_string(end - start) +
                 " characters; the host lists at most " + std::to_string(HOST_MAX_LINE) +
                 ", so a save keeps only those");
            break;
        }
        start = end + 2;
    }
}

// An image that grows files leaves the file as long as the text, without the
// end marks; the others write the text and its two end marks into the file as it is.
void Session::check_save(const std::string& name) {
    const std::optional<uint32_t> size = open_file_size();
    if (!size) {
        return;
    }
    const bool grows = image_has(MODE_SET_SIZE);
    uint64_t text = grows ? 0 : 2;
    size_t long_lines = 0, first_long = 0;
    const std::vector<std::string>& lines = board_.program_lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        text += std::min(lines[i].size(), HOST_MAX_LINE) + 2;
        if (lines[i].size() > HOST_MAX_LINE && long_lines++ == 0) {
            first_long = i;
        }
    }
    if (long_lines > 0) {
        const std::string more = long_lines == 1 ? ""
                                                 : ", and " + std::to_string(long_lines - 1) + " more over " +
                                                       std::to_string(HOST_MAX_LINE);
        lost("line " + std::to_string(first_long + 1) + " of the program has " +
             std::to_string(lines[first_long].size()) + " characters" + more + "; the host lists at most " +
             std::to_string(HOST_MAX_LINE) + " of a line, so " + name + " got only those");
    }
    if (text > *size) {
        lost("the program's " + std::to_string(text) + " bytes do not fit " + name + " (" +
             std::to_string(*size) + " bytes): the last " + std::to_string(text - *size) + " were cut" +
             (grows ? "" : " and the program's end marks are missing"));
    }
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

CallResult Session::open(const std::string& name) { return named_call(MODE_OPEN, name); }

CallResult Session::read(int32_t pos, int32_t count) {
    if (count > static_cast<int32_t>(max_transfer())) {
        throw ToolError("a read moves at most " + std::to_string(max_transfer()) + " bytes");
    }
    CallResult result;
    const sim::Returned r = invoke({MODE_READ, {0}, pos, count, 0}, result);
    result.value = r.p4;
    const size_t n = r.p4 > 0 ? static_cast<size_t>(r.p4) : 0;
    const size_t from = sim::data_start(count);
    result.data.assign(r.p1.begin() + static_cast<std::ptrdiff_t>(from),
                       r.p1.begin() + static_cast<std::ptrdiff_t>(from + n));
    return result;
}

CallResult Session::write(int32_t pos, const std::vector<uint8_t>& data) {
    CallResult result = send_data(MODE_WRITE, pos, data, "a write");
    result.wrote = result.wrote && check_write(result.value, static_cast<uint32_t>(data.size()));
    return result;
}

// A write or an append: the data as the module takes it, the position (or
// where the data went) in value, and whether the module had a file to write.
CallResult Session::send_data(int32_t mode, int32_t pos, const std::vector<uint8_t>& data, const char* what) {
    if (data.size() > max_transfer()) {
        throw ToolError(std::string(what) + " moves at most " + std::to_string(max_transfer()) + " bytes");
    }
    CallResult result;
    const bool file_open = open_file_size().has_value();
    const sim::Returned r =
        invoke({mode, sim::data_arg(data), pos, static_cast<int32_t>(data.size()), 0}, result);
    result.value = r.p2;
    result.wrote = file_open && result.messages.empty();
    return result;
}

CallResult Session::opendir(const std::string& name) {
    // "DATA/" names the directory DATA, as it would to ls(1).
    std::string dir = name;
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return named_call(MODE_OPENDIR, dir);
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
    CallResult result = named_call(MODE_LOAD, name);
    program_given_ = true;
    if (!board_.loaded_programs().empty()) {
        const std::string& text = board_.loaded_programs().back();
        result.data.assign(text.begin(), text.end());
        warn_loaded_text(name, text);
    }
    return result;
}

CallResult Session::save(const std::string& name) {
    CallResult result = named_call(MODE_SAVE, name);
    if (!program_given_) {
        warn("save before any load or program text: the host's program is empty, so " + name +
             (image_has(MODE_SET_SIZE) ? " is now empty" : " got only the end marks"));
    }
    if (result.messages.empty()) {
        check_save(name);
    }
    return result;
}

CallResult Session::named_call(int32_t mode, const std::string& name) {
    CallResult result;
    invoke({mode, name_string(name), 0, 0, 0}, result);
    warn_long_path(name);
    note_long_name(name, result);
    return result;
}

CallResult Session::create(const std::string& name) { return named_call(MODE_CREATE, name); }

CallResult Session::remove(const std::string& name) { return named_call(MODE_DELETE, name); }

CallResult Session::set_size(int32_t size) {
    CallResult result;
    invoke({MODE_SET_SIZE, {0}, size, 0, 0}, result);
    return result;
}

CallResult Session::append(const std::vector<uint8_t>& data) {
    CallResult result = send_data(MODE_APPEND, -1, data, "an append");
    if (result.wrote) {
        check_append(static_cast<uint32_t>(result.value), static_cast<uint32_t>(data.size()));
    }
    return result;
}

// No file grows past 4 GiB less one byte: the module appends what fits.
void Session::check_append(uint32_t old_size, uint32_t count) {
    const uint32_t appended = open_file_size().value_or(old_size) - old_size;
    if (appended < count) {
        lost("only " + std::to_string(appended) + " of " + std::to_string(count) +
             " bytes were appended: a file holds at most 4 GiB less one byte");
    }
}

namespace {

ModuleStatus decode_status(const sim::Returned& r) {
    return {r.p2, r.p3, r.p4, static_cast<uint32_t>(r.p1[0] | r.p1[1] << 8 | r.p1[2] << 16 | r.p1[3] << 24)};
}

const sim::Call STATUS_CALL{MODE_STATUS, {0, 0, 0, 0}, 0, 0, 0};

} // namespace

CallResult Session::status(ModuleStatus& report) {
    CallResult result;
    report = decode_status(invoke(STATUS_CALL, result));
    return result;
}

bool Session::image_has(int32_t mode) {
    if (!image_status_) {
        // An image without the status command leaves p1 as it was: no commands.
        image_status_ = decode_status(sim::invoke(board_, *cpu_, STATUS_CALL));
    }
    return image_status_->has(mode);
}

CallResult Session::call(int32_t mode) {
    CallResult result;
    invoke({mode, {0}, 0, 0, 0}, result);
    return result;
}

void Session::set_program(const std::vector<std::string>& lines) {
    size_t text = 2; // the end marks
    for (const std::string& line : lines) {
        if (line.find('\0') != std::string::npos) {
            throw ToolError("a program line holds a zero byte");
        }
        text += line.size() + 2;
    }
    if (text > MAX_PROGRAM_TEXT + 2) {
        throw ToolError("the program is " + std::to_string(text - 2) +
                        " bytes of text; a load takes at most " + std::to_string(MAX_PROGRAM_TEXT) +
                        ", so the tool saves no more");
    }
    board_.set_program(lines);
    program_given_ = true;
}

} // namespace sdsim
