// Time on the chip for what programs do with files: each workload on FAT16
// and FAT32 volumes made by mkfs.fat with 1, 8 and 64 sectors per cluster,
// on each of the card's timing profiles (sim/card_timing.h), run on the chip
// image in the emulator with its timing-true clock. Prints a table and, with
// --csv FILE, writes the same rows for the chart; below the table, figures
// read off a fourth card whose delays are counted in bytes clocked, so that
// its bus bytes are the module's own traffic. Workloads whose every call walks
// a long cluster chain make fewer calls unless --full is given (the per-call
// figures stay; the full run takes far longer).
// --card-timing fast|typical|slow runs that profile alone.
// --interrupts PERIOD_US:LENGTH_US (repeatable) runs every workload with the
// host's interrupts holding the CPU, each load on its own timer from power-up.
// --threads N measures N volumes at a time (2 by default).
// --image FILE runs another build's standard image (--elf FILE for its stack
// line), --only seeks the seek figures alone: scripts/seek-baseline.sh runs
// an earlier commit's image so.
#include <chrono>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "chip_time_report.h"
#include "elf_file.h"
#include "sfr.h"
#include "stack_depth.h"
#include "volume_runs.h"

namespace {

const std::vector<bench::Shape> SHAPES = {{16, 1, 16}, {16, 8, 64},  {16, 64, 256},
                                          {32, 1, 64}, {32, 8, 512}, {32, 64, 2200}};

std::string describe(const std::vector<emu::InterruptLoad>& loads) {
    std::string text;
    for (const emu::InterruptLoad& load : loads) {
        text += (text.empty() ? "" : ", ") + std::to_string(load.length_us) + " us every " +
                std::to_string(load.period_us) + " us";
    }
    return text.empty() ? "none" : text;
}

std::string describe(const std::vector<bench::Card>& cards) {
    std::string text;
    for (const bench::Card& card : cards) {
        text += (text.empty() ? "" : ", ") + std::string(card.name);
    }
    return text;
}

std::vector<bench::Card> named_cards() {
    std::vector<bench::Card> cards;
    for (sim::CardProfile profile : sim::NAMED_CARD_PROFILES) {
        cards.push_back({sim::card_profile_name(profile), profile});
    }
    return cards;
}

// The value of an option given as "--name VALUE" or "--name=VALUE", or nothing when argv[i] is another.
std::optional<std::string> option_value(const std::string& name, int argc, char** argv, int& i) {
    const std::string a = argv[i];
    if (a.rfind(name + "=", 0) == 0) {
        return a.substr(name.size() + 1);
    }
    if (a != name) {
        return std::nullopt;
    }
    if (i + 1 >= argc) {
        throw std::invalid_argument(name + " needs a value");
    }
    return std::string(argv[++i]);
}

void print_stack(const std::string& elf_path) {
    const target::StackReport stack = target::compute_stack(target::ElfFile::load(elf_path), 0);
    std::printf("Worst-case stack %u bytes, computed from the image's frames and calls (host services not "
                "counted):\n  %s\n",
                stack.worst_case,
                stack.unbounded.empty() ? target::describe_chain(stack).c_str() : stack.unbounded.c_str());
}

} // namespace

int main(int argc, char** argv) {
    std::string csv_path;
    std::string image_path = SDCARD_IMAGE_PATH;
    std::string elf_path = SDCARD_ELF_PATH;
    bench::RunPlan plan;
    plan.cards = named_cards();
    try {
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) == "--full") {
                plan.full = true;
            } else if (const auto csv = option_value("--csv", argc, argv, i)) {
                csv_path = *csv;
            } else if (const auto load = option_value("--interrupts", argc, argv, i)) {
                try {
                    plan.interrupts.push_back(emu::parse_interrupt_load(*load));
                } catch (const std::invalid_argument& e) {
                    throw std::invalid_argument(std::string("--interrupts ") + e.what());
                }
            } else if (const auto name = option_value("--card-timing", argc, argv, i)) {
                const sim::CardProfile profile = sim::card_timing_option(*name);
                plan.cards = {{sim::card_profile_name(profile), profile}};
            } else if (const auto threads = option_value("--threads", argc, argv, i)) {
                plan.threads = static_cast<unsigned>(std::stoul(*threads));
                if (plan.threads == 0 || plan.threads > 64) {
                    throw std::invalid_argument("--threads takes 1 to 64");
                }
            } else if (const auto image = option_value("--image", argc, argv, i)) {
                image_path = *image;
                if (elf_path == SDCARD_ELF_PATH) {
                    elf_path.clear();
                }
            } else if (const auto elf = option_value("--elf", argc, argv, i)) {
                elf_path = *elf;
            } else if (const auto only = option_value("--only", argc, argv, i)) {
                if (*only != "seeks") {
                    throw std::invalid_argument("--only takes seeks, not '" + *only + "'");
                }
                plan.only_seeks = true;
            } else {
                throw std::invalid_argument(std::string("unknown option '") + argv[i] + "'");
            }
        }
        try {
            emu::check_cpu_time_left(plan.interrupts);
        } catch (const std::invalid_argument& e) {
            throw std::invalid_argument(std::string("--interrupts ") + e.what());
        }
    } catch (const std::exception& e) {
        std::fprintf(
            stderr,
            "chip_time: %s\nusage: chip_time [--full] [--csv FILE] [--card-timing fast|typical|slow] "
            "[--interrupts PERIOD_US:LENGTH_US]... [--threads N]\n"
            "       [--image FILE [--elf FILE]] [--only seeks]\n",
            e.what());
        return 2;
    }
    try {
        const auto started = std::chrono::steady_clock::now();
        plan.image = emu::EmuCpu::read_image(image_path);
        std::printf("Image %zu bytes.\n", plan.image.size());
        if (!elf_path.empty()) {
            print_stack(elf_path);
        }
        if (!plan.only_seeks) {
            plan.growing = emu::EmuCpu::read_image(SDCARD_GROWING_IMAGE_PATH);
            std::printf("The rows of command 11 run on the growing image, %zu bytes.\n", plan.growing.size());
        }
        std::printf("\n");
        const emu::ClockSettings clock;
        sim::Board board;
        board.set_bus_clock_hz(clock.pbclk_hz());
        // Every SPI clock at the module's fast rate carrying payload.
        const double limit = 1e12 / static_cast<double>(board.byte_ps(SPI2BRG_FAST));
        if (!plan.only_seeks) {
            bench::print_header({clock.sysclk_hz / 1e6, static_cast<double>(clock.pbclk_hz()) / 1e6,
                                 clock.flash_wait_states, limit, SPI2BRG_FAST, describe(plan.cards),
                                 plan.full, describe(plan.interrupts)});
        }
        std::vector<bench::Row> rows;
        std::vector<bench::Row> byte_counted;
        bench::run_shapes(plan, SHAPES, [&](const bench::Shape&, const bench::ShapeRows& measured) {
            for (const bench::Row& r : measured.table) {
                bench::print_row(r, limit);
            }
            std::fflush(stdout);
            rows.insert(rows.end(), measured.table.begin(), measured.table.end());
            byte_counted.insert(byte_counted.end(), measured.byte_counted.begin(),
                                measured.byte_counted.end());
        });
        if (!csv_path.empty()) {
            bench::write_csv(csv_path, rows, limit);
        }
        bench::print_byte_counted_figures(byte_counted);
        bench::print_record_cost(rows, byte_counted);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("\n(%zu rows and %zu on the byte-counted card in %.0f s on this machine, %u threads)\n",
                    rows.size(), byte_counted.size(), took, plan.threads);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "chip_time: %s\n", e.what());
        return 1;
    }
}
