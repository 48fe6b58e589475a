// One run of sdsim: a virtual board with the card in its socket and the CPU
// that runs the module, driven one module call at a time as an interpreted
// program would. The module's console messages are passed on as printed.
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
#include "options.h"
#include "sd_card.h"
#include "vcd_trace.h"

namespace sdsim {

// The host's pin that the card's chip select is wired to; the host's option
// record names it from the start, as a host set up for the card would.
constexpr int8_t CARD_CS_PIN = 4;

struct CallResult {
    std::string messages;      // what the module printed during the call
    std::vector<uint8_t> data; // bytes read, the listed entry or the loaded text
    int32_t value = 0;         // the count read (read) or the position used (write)
    bool ended = false;        // readdir: the directory has no further entry
};

class Session {
  public:
    Session(const std::string& image_path, const Options& options, std::ostream& console);
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

    // Replaces the host's stored program (what save writes out).
    void set_program(const std::vector<std::string>& lines);

    bool printed_any() const { return printed_any_; }

  private:
    sim::Returned invoke(const sim::Call& call, CallResult& result);

    sim::DiskImage image_;
    sim::SdCard card_;
    sim::Board board_;
    std::unique_ptr<sim::Cpu> cpu_;
    std::ostream& console_;
    bool printed_any_ = false;
    size_t faults_reported_ = 0;
    std::unique_ptr<sim::VcdTrace> trace_;
};

// Largest data a single read or write can move: the size of the argument buffer.
uint32_t max_transfer();

// Longest name a counted string carries.
constexpr size_t MAX_NAME = 255;

} // namespace sdsim
