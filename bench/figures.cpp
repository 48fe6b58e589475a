// Prints the chip image's figures: its size, the stack each command needs and
// the instructions each typical call executes, measured in the emulator on a
// card made by the FAT tools. A report, not a timed test.
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "sdtypes.h"
#include "timed_rig.h"
#include "volume.h"

namespace {

struct Measured {
    std::string what;
    int32_t mode;
    uint64_t instructions;
    uint32_t stack_bytes;
    size_t bus_bytes;
};

void fill_card(const testsupport::Volume& volume) {
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
}

Measured call(bench::TimedRig& rig, const std::string& what, const sim::Call& c) {
    rig.measure(c, 0);
    return {what, c.mode, rig.cpu().last_call().instructions, rig.cpu().last_call().stack_bytes,
            rig.board().bus().size()};
}

// The post-link step's .size file beside an image: what it says of `field`.
uint32_t size_field(const std::string& size_file, const std::string& field) {
    std::ifstream in(size_file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field, 0) == 0) {
            return static_cast<uint32_t>(std::stoul(line.substr(field.size())));
        }
    }
    throw std::runtime_error(size_file + " has no line '" + field + "'");
}

// Sizes as the post-link step counted them when it wrote each image.
void print_image_sizes(const std::string& target_dir) {
    std::printf("Chip images (the post-link step's .size files)\n");
    std::printf("  %-10s %12s %8s %14s %17s\n", "image", "bytes", "code", "constant data",
                "worst-case stack");
    for (const char* name : {"readonly", "standard", "growing"}) {
        const std::string file = target_dir + "/sdcard" +
                                 (std::string(name) == "standard" ? "" : "-" + std::string(name)) + ".size";
        std::printf("  %-10s %12u %8u %14u %17u\n", name, size_field(file, "image bytes"),
                    size_field(file, "code bytes"), size_field(file, "read-only data"),
                    size_field(file, "worst-case stack"));
    }
    std::printf("\n");
}

} // namespace

int main() {
    try {
        print_image_sizes(SDCARD_TARGET_DIR);
        const std::vector<uint8_t> image = emu::EmuCpu::read_image(SDCARD_IMAGE_PATH);
        testsupport::ScratchDir dir;
        testsupport::VolumeSpec shape;
        shape.fat = 16;
        shape.size_kib = 8192;
        shape.sectors_per_cluster = 1;
        const testsupport::Volume volume(dir.file("card.img"), shape);
        fill_card(volume);
        bench::TimedRig rig(image, volume.image().string(), {"byte-counted", std::nullopt}, {});
        std::vector<std::string> lines;
        for (int line = 10; line <= 100; line += 10) {
            lines.push_back(std::to_string(line) + " PRINT \"SAVED " + std::to_string(line) + "\"");
        }
        rig.board().set_program(lines);

        std::vector<Measured> rows;
        rows.push_back(call(rig, "set chip select", {MODE_SET_CS, {bench::TimedRig::CS_PIN, 0, 0, 0}}));
        rows.push_back(call(rig, "mount and open", {MODE_OPEN, sim::counted("DATA.BIN")}));
        rows.push_back(call(rig, "512-byte read at a sector boundary", {MODE_READ, {}, 1024, 512}));
        rows.push_back(call(rig, "100 bytes at position 1,000", {MODE_READ, {}, 1000, 100}));
        rows.push_back(
            call(rig, "10-byte write at position 5", {MODE_WRITE, sim::counted("0123456789"), 5, 10}));
        rows.push_back(call(rig, "mount and open a directory", {MODE_OPENDIR, sim::counted("LIST")}));
        Measured listing{"listing 16 entries", MODE_READDIR, 0, 0, 0};
        for (int i = 0; i < 16; ++i) {
            const Measured entry = call(rig, "", {MODE_READDIR, {}});
            listing.instructions += entry.instructions;
            listing.bus_bytes += entry.bus_bytes;
            listing.stack_bytes = std::max(listing.stack_bytes, entry.stack_bytes);
        }
        rows.push_back(listing);
        rows.push_back(call(rig, "load a 20-line program", {MODE_LOAD, sim::counted("PROG.BAS")}));
        rows.push_back(call(rig, "save a 10-line program", {MODE_SAVE, sim::counted("SAVE.BAS")}));
        rig.check_card();

        std::printf("Instructions per call (emulated M4K, image at 0x%08X; host services not counted)\n",
                    bench::TimedRig::PLACEMENT);
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
        std::printf("  %-9s %8u\n", "all", rig.cpu().stack_peak());

        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "figures: %s\n", e.what());
        return 1;
    }
}
