// One run of sdsim: a virtual board with the card in its socket and the CPU
// that runs the module, driven one module call at a time as an interpreted
// program would. The module's console messages are passed on as printed;
// after a call, the tool adds a line where it knows the call lost data.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "board.h"
#include "cpu.h"
#include "disk_image.h"
#include "module_status.h"
#include "options.h"
#include "sd_card.h"
#include "vcd_trace.h"

namespace sdsim {

// The host's pin that the card's chip select is wired to; the host's option
// record names it from the start, as a host set up for the card would.
constexpr int8_t CARD_CS_PIN = 4;

// The most text a load can hand the host (its 51,200-byte buffer less the two
// end marks); the tool refuses to save more, so whatever it saves loads back.
constexpr uint32_t MAX_PROGRAM_TEXT = 51198;

struct CallResult {
    std::string messages;      // what the module printed during the call
    std::vector<uint8_t> data; // bytes read, the listed entry or the loaded text
    int32_t value = 0;         // the count read (read) or the position used (write, append)
    bool wrote = false;        // write, append: a file was open and the bytes, or some of them, reached it
    bool ended = false;        // readdir: the directory has no further entry
};

class Session {
  public:
    // A read-only session opens the image for reading only.
    Session(const std::string& image_path, const Options& options, bool writable, std::ostream& console);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    CallResult set_cs(int32_t pin);
    CallResult open(const std::string& name);
    CallResult read(int32_t pos, int32_t count);
    CallResult write(int32_t pos, const std::vector<uint8_t>& data);
    CallResult opendir(const std::string& name);
    CallResult readdir();
    CallResult load(const std::string& name);
    CallResult save(const std::string& name);
    CallResult call(int32_t mode);
    // The growing image's commands.
    CallResult create(const std::string& name);
    CallResult set_size(int32_t size);
    CallResult append(const std::vector<uint8_t>& data);
    CallResult remove(const std::string& name);
    // The status command as a call of the run; its report.
    CallResult status(ModuleStatus& report);

    // Whether the image has the command, from its status command's list: asked
    // once, by a call of the tool's own that clocks no bus byte and counts as
    // no call of the run (--trace-calls, --fault).
    bool image_has(int32_t mode);

    // Replaces the host's stored program (what save writes out).
    void set_program(const std::vector<std::string>& lines);

    // The open file's size as the module holds it; nothing when no file is open.
    std::optional<uint32_t> open_file_size() const;

    // The card image as the tool reads it itself (fat_listing.h).
    const sim::DiskImage& image() const { return image_; }

    bool printed_any() const { return printed_any_; }
    // Whether a call lost or skipped data the user gave (each loss said in one line).
    bool lost_data() const { return lost_data_; }
    // Off: the module's messages are only in the results (sdsim run shows them there).
    void echo_messages(bool on) { echo_messages_ = on; }

  private:
    sim::Returned invoke(const sim::Call& call, CallResult& result);
    void warn(const std::string& text);
    void lost(const std::string& text);
    void warn_long_path(const std::string& name);
    void note_long_name(const std::string& name, const CallResult& result);
    bool check_write(int32_t pos, uint32_t count);
    void warn_loaded_text(const std::string& name, const std::string& text);
    void check_save(const std::string& name);
    void note_fault(int32_t mode);
    void check_append(uint32_t old_size, uint32_t count);
    CallResult named_call(int32_t mode, const std::string& name);
    CallResult send_data(int32_t mode, int32_t pos, const std::vector<uint8_t>& data, const char* what);
    void report_faults();

    std::string image_path_;
    sim::DiskImage image_;
    sim::SdCard card_;
    sim::Board board_;
    std::unique_ptr<sim::Cpu> cpu_;
    std::ostream& console_;
    std::optional<std::string> volume_problem_;
    bool printed_any_ = false;
    bool lost_data_ = false;
    bool echo_messages_ = true;
    bool program_given_ = false;               // by a load or by the tool
    std::optional<ModuleStatus> image_status_; // only its commands are kept up to date
    size_t faults_reported_ = 0;
    std::unique_ptr<sim::VcdTrace> trace_;
    FaultPlan fault_plan_;
    int calls_ = 0;
    std::optional<std::string> fault_fired_;         // where a --fault first acted
    std::optional<std::pair<int, int>> trace_calls_; // the calls --trace records; all when absent
    uint64_t traced_until_ps_ = 0;                   // the end of the last call traced
};

// Largest data a single read or write can move: the size of the argument buffer.
uint32_t max_transfer();

// Longest name a counted string carries.
constexpr size_t MAX_NAME = 255;

} // namespace sdsim
