// Time on the chip for what programs do with files: each workload on FAT16
// and FAT32 volumes made by mkfs.fat with 1, 8 and 64 sectors per cluster,
// run on the chip image in the emulator with its timing-true clock. Prints a
// table and, with --csv FILE, writes the same rows for the chart. Workloads
// whose every call walks a long cluster chain make fewer calls unless --full
// is given (the per-call figures stay; the full run takes far longer).
// --card-timing chooses the card's profile (sim/card_timing.h), typical by default.
// --interrupts PERIOD_US:LENGTH_US (repeatable) runs every workload with the
// host's interrupts holding the CPU, each load on its own timer from power-up.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "elf_file.h"
#include "sfr.h"
#include "stack_depth.h"
#include "timed_rig.h"
#include "volume.h"
#include "workloads.h"

namespace {

struct Shape {
    int fat;
    int sectors_per_cluster;
    uint32_t size_mib; // the least that gives this FAT type that cluster size
};

const Shape SHAPES[] = {{16, 1, 16}, {16, 8, 64}, {16, 64, 256}, {32, 1, 64}, {32, 8, 512}, {32, 64, 2200}};

struct Row {
    std::string workload;
    Shape shape;
    bench::Tally tally;
};

// Every SPI clock at the module's fast rate carrying payload.
double bus_limit_bytes_per_s(const sim::Board& board) {
    return 1e12 / static_cast<double>(board.byte_ps(SPI2BRG_FAST));
}

std::string csv_line(const Row& r, double limit) {
    const auto& t = r.tally;
    const double seconds = static_cast<double>(t.time_ps) * 1e-12;
    const double throughput = t.payload ? static_cast<double>(t.payload) / seconds : 0;
    char line[512];
    std::snprintf(line, sizeof line, "\"%s\",FAT%d,%d,%llu,%llu,%llu,%.3f,%.3f,%.1f,%.4f,%.2f,%.4f,%.4f,%.1f",
                  r.workload.c_str(), r.shape.fat, r.shape.sectors_per_cluster,
                  static_cast<unsigned long long>(t.calls), static_cast<unsigned long long>(t.payload),
                  static_cast<unsigned long long>(t.bus_bytes),
                  t.payload ? static_cast<double>(t.bus_bytes) / static_cast<double>(t.payload) : 0,
                  seconds * 1e3, throughput / 1e3, throughput / limit,
                  static_cast<double>(t.instructions) / static_cast<double>(t.bus_bytes ? t.bus_bytes : 1),
                  static_cast<double>(t.shifting_ps) / static_cast<double>(t.time_ps),
                  seconds * 1e3 / static_cast<double>(t.calls), limit / 1e3);
    return line;
}

void print_row(const Row& r, double limit, double wall_s) {
    const auto& t = r.tally;
    const double seconds = static_cast<double>(t.time_ps) * 1e-12;
    char volume[16];
    std::snprintf(volume, sizeof volume, "FAT%d/%d", r.shape.fat, r.shape.sectors_per_cluster);
    std::printf("%-40s %-8s %6llu %9llu %10llu", r.workload.c_str(), volume,
                static_cast<unsigned long long>(t.calls), static_cast<unsigned long long>(t.payload),
                static_cast<unsigned long long>(t.bus_bytes));
    if (t.payload) {
        const double throughput = static_cast<double>(t.payload) / seconds;
        std::printf(" %8.2f %10.2f %8.1f %6.1f%%",
                    static_cast<double>(t.bus_bytes) / static_cast<double>(t.payload), seconds * 1e3,
                    throughput / 1e3, 100 * throughput / limit);
    } else {
        std::printf(" %8s %10.2f %8s %7s", "-", seconds * 1e3, "-", "-");
    }
    std::printf(" %8.1f %7.1f%% %5.1fs\n",
                static_cast<double>(t.instructions) / static_cast<double>(t.bus_bytes ? t.bus_bytes : 1),
                100.0 * static_cast<double>(t.shifting_ps) / static_cast<double>(t.time_ps), wall_s);
}

// What one record of the growing image's appends costs on each volume.
void print_record_cost(const std::vector<Row>& rows) {
    std::printf("\nper 20-byte record appended with command 11 (growing image):\n");
    for (const Row& r : rows) {
        if (r.workload == "20-byte records grown by command 11") {
            const double calls = static_cast<double>(r.tally.calls);
            std::printf("  FAT%d/%-3d %.0f bus bytes, %.2f ms\n", r.shape.fat, r.shape.sectors_per_cluster,
                        static_cast<double>(r.tally.bus_bytes) / calls,
                        static_cast<double>(r.tally.time_ps) * 1e-9 / calls);
        }
    }
}

// A load's reads alone: the load less the "mount and open" row on the same
// volume, whose set-up and name lookup in the root are the load's own too.
void print_load_reads(const std::vector<Row>& rows) {
    std::printf("\nload a 50,000-byte program, the \"mount and open\" row taken out:\n");
    const Row* opened = nullptr;
    for (const Row& r : rows) {
        if (r.workload == "mount and open") {
            opened = &r;
        } else if (r.workload == "load a 50,000-byte program" && opened != nullptr) {
            const uint64_t reads = r.tally.bus_bytes - opened->tally.bus_bytes;
            std::printf("  FAT%d/%-3d %llu bus bytes, %.3f per payload byte\n", r.shape.fat,
                        r.shape.sectors_per_cluster, static_cast<unsigned long long>(reads),
                        static_cast<double>(reads) / static_cast<double>(r.tally.payload));
        }
    }
}

} // namespace

std::string describe(const std::vector<emu::InterruptLoad>& loads) {
    std::string text;
    for (const emu::InterruptLoad& load : loads) {
        text += (text.empty() ? "" : ", ") + std::to_string(load.length_us) + " us every " +
                std::to_string(load.period_us) + " us";
    }
    return text.empty() ? "none" : text;
}

int main(int argc, char** argv) {
    std::string csv_path;
    bool full = false;
    sim::CardProfile card_timing = sim::CardProfile::Typical;
    std::vector<emu::InterruptLoad> interrupts;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--full") {
                full = true;
            } else if (a == "--csv" && i + 1 < argc) {
                csv_path = argv[++i];
            } else if (a == "--interrupts" && i + 1 < argc) {
                interrupts.push_back(emu::parse_interrupt_load(argv[++i]));
            } else if (a == "--card-timing" || a.rfind("--card-timing=", 0) == 0) {
                const std::string value = a != "--card-timing" ? a.substr(14) : i + 1 < argc ? argv[++i] : "";
                const std::optional<sim::CardProfile> profile = sim::card_profile_named(value);
                if (!profile) {
                    std::fprintf(stderr, "chip_time: --card-timing takes fast, typical or slow, not '%s'\n",
                                 value.c_str());
                    return 2;
                }
                card_timing = *profile;
            } else {
                std::fprintf(stderr,
                             "usage: chip_time [--full] [--csv FILE] [--card-timing fast|typical|slow] "
                             "[--interrupts PERIOD_US:LENGTH_US]...\n");
                return 2;
            }
        }
        emu::check_cpu_time_left(interrupts);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "chip_time: --interrupts %s\n", e.what());
        return 2;
    }
    try {
        const auto started = std::chrono::steady_clock::now();
        const std::vector<uint8_t> image = emu::EmuCpu::read_image(SDCARD_IMAGE_PATH);
        const std::vector<uint8_t> growing = emu::EmuCpu::read_image(SDCARD_GROWING_IMAGE_PATH);
        const target::StackReport stack = target::compute_stack(target::ElfFile::load(SDCARD_ELF_PATH), 0);
        std::printf("Image %zu bytes; worst-case stack %u bytes, computed from the image's frames and calls "
                    "(host services not counted):\n  %s\n\n",
                    image.size(), stack.worst_case,
                    stack.unbounded.empty() ? target::describe_chain(stack).c_str()
                                            : stack.unbounded.c_str());
        std::printf("The rows of command 11 run on the growing image, %zu bytes.\n\n", growing.size());
        std::vector<Row> rows;
        const emu::ClockSettings clock;
        sim::Board board;
        board.set_bus_clock_hz(clock.pbclk_hz());
        const double limit = bus_limit_bytes_per_s(board);
        std::printf(
            "Time on the chip: the image in the emulator, SYSCLK %.0f MHz, peripheral bus %.0f MHz,\n"
            "%u flash wait state; bus limit %.1f kB/s (SPI2BRG %u); kB = 1000 bytes; SDHC card, %s timing;\n"
            "%s counts; host interrupts: %s.\n\n",
            clock.sysclk_hz / 1e6, static_cast<double>(clock.pbclk_hz()) / 1e6, clock.flash_wait_states,
            limit / 1e3, SPI2BRG_FAST, sim::card_profile_name(card_timing), full ? "full" : "short-run",
            describe(interrupts).c_str());
        std::printf("%-40s %-8s %6s %9s %10s %8s %10s %8s %7s %8s %8s %6s\n", "workload", "volume", "calls",
                    "payload", "bus bytes", "bus/pay", "time ms", "kB/s", "of bus", "ins/byte", "shifting",
                    "wall");
        for (const Shape& shape : SHAPES) {
            testsupport::ScratchDir dir;
            testsupport::VolumeSpec volume_shape;
            volume_shape.fat = shape.fat;
            volume_shape.sectors_per_cluster = shape.sectors_per_cluster;
            volume_shape.size_kib = shape.size_mib * 1024;
            testsupport::Volume volume(dir.file("card.img"), volume_shape);
            bench::fill_volume(volume);
            for (const bench::Workload& w : bench::workloads()) {
                const auto row_started = std::chrono::steady_clock::now();
                bench::TimedRig rig(w.image == bench::Image::Growing ? growing : image,
                                    volume.image().string(), card_timing, interrupts);
                w.run(rig, full ? w.full : w.short_run);
                rig.check_card();
                rows.push_back({w.name, shape, rig.tally()});
                print_row(
                    rows.back(), limit,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - row_started).count());
                std::fflush(stdout);
            }
        }
        if (!csv_path.empty()) {
            std::ofstream csv(csv_path);
            csv << "workload,volume,sectors_per_cluster,calls,payload_bytes,bus_bytes,bus_bytes_per_payload_"
                   "byte,"
                   "time_ms,payload_kB_per_s,share_of_bus_limit,instructions_per_bus_byte,bus_shifting_share,"
                   "ms_per_call,bus_limit_kB_per_s\n";
            for (const Row& r : rows) {
                csv << csv_line(r, limit) << "\n";
            }
        }
        print_load_reads(rows);
        print_record_cost(rows);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("\n(%zu rows in %.0f s on this machine)\n", rows.size(), took);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chip_time: %s\n", e.what());
        return 1;
    }
}
