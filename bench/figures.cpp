// Prints the chip image's figures: its size, the stack each command needs and
// the instructions each typical call executes, measured in the emulator on a
// card made by the FAT tools. A report, not a timed test.
#include <elf.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "elf_file.h"
#include "emu_cpu.h"
#include "sd_card.h"
#include "sdtypes.h"
#include "stack_depth.h"
#include "volume.h"

namespace {

constexpr uint32_t PLACEMENT = 0x9D008000; // not the link address
constexpr int8_t CS_PIN = 7;

struct Measured {
    std::string what;
    int32_t mode;
    uint64_t instructions;
    uint32_t stack_bytes;
    size_t bus_bytes;
};

std::vector<uint8_t> make_card(const testsupport::ScratchDir& dir) {
    testsupport::VolumeSpec shape;
    shape.fat = 16;
    shape.size_kib = 8192;
    shape.sectors_per_cluster = 1;
    testsupport::Volume volume(dir.file("card.img"), shape);
    volume.put("/DATA.BIN", testsupport::pattern(64 * 1024, 7));
    volume.mkdir("/LIST");
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (int i = 0; i < 16; ++i) {
        files.push_back({"FILE" + std::to_string(i) + ".TXT", testsupport::pattern(100, uint32_t(i))});
    }
    volume.put_many("/LIST", files);
    std::string program;
    for (int line = 10; line <= 200; line += 10) {
        program += std::to_string(line) + " PRINT \"LINE " + std::to_string(line) + "\"\r\n";
    }
    program += std::string(2, '\0');
    volume.put("/PROG.BAS", {program.begin(), program.end()});
    volume.put("/SAVE.BAS", std::vector<uint8_t>(2048, ' '));
    return volume.bytes();
}

class Bench {
  public:
    Bench(const std::vector<uint8_t>& image, std::vector<uint8_t> card)
        : disk_(sim::DiskImage::from_bytes(std::move(card))), card_(disk_), cpu_(image, PLACEMENT) {
        board_.attach(&card_, CS_PIN);
        std::vector<std::string> lines;
        for (int line = 10; line <= 100; line += 10) {
            lines.push_back(std::to_string(line) + " PRINT \"SAVED " + std::to_string(line) + "\"");
        }
        board_.set_program(lines);
    }

    Measured call(const std::string& what, const sim::Call& c) {
        const size_t bus_before = board_.bus().size();
        const size_t console_before = board_.console().size();
        sim::invoke(board_, cpu_, c);
        if (board_.console().size() != console_before) {
            throw std::runtime_error(what + " printed " + board_.console().substr(console_before));
        }
        return {what, c.mode, cpu_.last_call().instructions, cpu_.last_call().stack_bytes,
                board_.bus().size() - bus_before};
    }

    uint32_t stack_peak() const { return cpu_.stack_peak(); }

  private:
    sim::Board board_;
    sim::DiskImage disk_;
    sim::SdCard card_;
    emu::EmuCpu cpu_;
};

void print_image_size(const std::vector<uint8_t>& image, const char* elf_path) {
    const target::ElfFile elf = target::ElfFile::load(elf_path);
    uint32_t code = 0, rodata = 0;
    for (const auto& s : elf.sections()) {
        if ((s.flags & SHF_ALLOC) && s.type == SHT_PROGBITS) {
            ((s.flags & SHF_EXECINSTR) ? code : rodata) += s.size;
        }
    }
    std::printf("Chip image (sdcard.bin)\n");
    std::printf("  %-34s %8zu bytes\n", "image in flash", image.size());
    std::printf("  %-34s %8u bytes\n", "code", code);
    std::printf("  %-34s %8u bytes\n", "constant data", rodata);
    const target::StackReport stack = target::compute_stack(elf, 0);
    std::printf("  %-34s %8u bytes  (%s)\n\n", "worst-case stack, computed", stack.worst_case,
                stack.unbounded.empty() ? target::describe_chain(stack).c_str() : stack.unbounded.c_str());
}

} // namespace

// figures [sdcard.bin sdcard.elf]: the build's image, or another one to compare with.
int main(int argc, char** argv) {
    const bool other = argc == 3;
    try {
        const std::vector<uint8_t> image = emu::EmuCpu::read_image(other ? argv[1] : SDCARD_IMAGE_PATH);
        print_image_size(image, other ? argv[2] : SDCARD_ELF_PATH);

        testsupport::ScratchDir dir;
        Bench bench(image, make_card(dir));
        std::vector<Measured> rows;
        rows.push_back(bench.call("set chip select", {MODE_SET_CS, {CS_PIN, 0, 0, 0}}));
        rows.push_back(bench.call("mount and open", {MODE_OPEN, sim::counted("DATA.BIN")}));
        rows.push_back(bench.call("512-byte read at a sector boundary", {MODE_READ, {}, 1024, 512}));
        rows.push_back(bench.call("100 bytes at position 1,000", {MODE_READ, {}, 1000, 100}));
        rows.push_back(
            bench.call("10-byte write at position 5", {MODE_WRITE, sim::counted("0123456789"), 5, 10}));
        rows.push_back(bench.call("mount and open a directory", {MODE_OPENDIR, sim::counted("LIST")}));
        Measured listing{"listing 16 entries", MODE_READDIR, 0, 0, 0};
        for (int i = 0; i < 16; ++i) {
            const Measured entry = bench.call("", {MODE_READDIR, {}});
            listing.instructions += entry.instructions;
            listing.bus_bytes += entry.bus_bytes;
            listing.stack_bytes = std::max(listing.stack_bytes, entry.stack_bytes);
        }
        rows.push_back(listing);
        rows.push_back(bench.call("load a 20-line program", {MODE_LOAD, sim::counted("PROG.BAS")}));
        rows.push_back(bench.call("save a 10-line program", {MODE_SAVE, sim::counted("SAVE.BAS")}));

        std::printf("Instructions per call (emulated M4K, image at 0x%08X; host services not counted)\n",
                    PLACEMENT);
        std::printf("  %-34s %4s %12s %10s %12s\n", "operation", "cmd", "instructions", "SPI bytes",
                    "stack bytes");
        for (const auto& r : rows) {
            std::printf("  %-34s %4d %12llu %10zu %12u\n", r.what.c_str(), r.mode,
                        static_cast<unsigned long long>(r.instructions), r.bus_bytes, r.stack_bytes);
        }
        std::map<int32_t, uint32_t> peak;
        for (const auto& r : rows) {
            peak[r.mode] = std::max(peak[r.mode], r.stack_bytes);
        }
        std::printf("\nStack peak per command (bytes below the caller's stack pointer)\n");
        for (const auto& [mode, bytes] : peak) {
            std::printf("  command %d %8u\n", mode, bytes);
        }
        std::printf("  %-9s %8u\n", "all", bench.stack_peak());

        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "figures: %s\n", e.what());
        return 1;
    }
}
