#include "chain_and_load.h"

#include <stdexcept>
#include <string>

#include "board.h"
#include "emu_cpu.h"
#include "sd_card.h"
#include "sdtypes.h"
#include "volume.h"

namespace bench {
namespace {

constexpr int8_t CS_PIN = 7;
constexpr uint32_t LONG_FILE = 1024 * 1024;
constexpr int32_t WRITE_AT = LONG_FILE - 571; // 453 bytes into the file's second-last sector
constexpr uint32_t PROGRAM_TEXT = 50000;
constexpr uint64_t INSTRUCTION_BUDGET = 500'000'000; // a walk of 2,048 clusters takes tens of millions

// The bus bytes of a run of calls on one card, each call checked for messages.
class Session {
  public:
    Session(const std::vector<uint8_t>& image, uint32_t placement, std::vector<uint8_t> card)
        : disk_(sim::DiskImage::from_bytes(std::move(card))), card_(disk_),
          cpu_(image, placement, INSTRUCTION_BUDGET) {
        board_.attach(&card_, CS_PIN);
        call({MODE_SET_CS, {CS_PIN, 0, 0, 0}});
    }

    size_t call(const sim::Call& c) {
        const size_t bus_before = board_.bus().size();
        const size_t console_before = board_.console().size();
        sim::invoke(board_, cpu_, c);
        if (board_.console().size() != console_before) {
            throw std::runtime_error("a benchmark call printed " + board_.console().substr(console_before));
        }
        return board_.bus().size() - bus_before;
    }

  private:
    sim::Board board_;
    sim::DiskImage disk_;
    sim::SdCard card_;
    emu::EmuCpu cpu_;
};

std::vector<uint8_t> program_text() {
    std::string text;
    for (int line = 10; text.size() < PROGRAM_TEXT; line += 10) {
        text += std::to_string(line) + " PRINT \"A LINE OF THE LOAD BENCHMARK\"\r\n";
    }
    text.resize(PROGRAM_TEXT - 2);
    text += "\r\n";
    text += std::string(2, '\0');
    return {text.begin(), text.end()};
}

} // namespace

ChainAndLoad measure_chain_and_load(const std::vector<uint8_t>& image, uint32_t placement) {
    testsupport::ScratchDir dir;
    ChainAndLoad out{};

    testsupport::VolumeSpec walk_shape;
    walk_shape.fat = 16;
    walk_shape.size_kib = 8192;
    walk_shape.sectors_per_cluster = 1;
    testsupport::Volume walk(dir.file("walk.img"), walk_shape);
    walk.put("/LONG.BIN", testsupport::pattern(LONG_FILE, 3));
    Session w(image, placement, walk.bytes());
    out.write_bus_bytes = w.call({MODE_OPEN, sim::counted("LONG.BIN")}) +
                          w.call({MODE_WRITE, sim::counted("0123456789"), WRITE_AT, 10});

    testsupport::VolumeSpec load_shape;
    load_shape.fat = 12;
    load_shape.size_kib = 16384;
    load_shape.sectors_per_cluster = 64;
    testsupport::Volume load(dir.file("load.img"), load_shape);
    load.put("/BIG.BAS", program_text());
    Session l(image, placement, load.bytes());
    const size_t load_bus = l.call({MODE_LOAD, sim::counted("BIG.BAS")});
    out.load_bytes_per_byte = static_cast<double>(load_bus) / PROGRAM_TEXT;
    return out;
}

} // namespace bench
