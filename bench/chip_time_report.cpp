#include "chip_time_report.h"

#include <cstdio>
#include <fstream>

namespace bench {
namespace {

std::string volume_name(const Shape& shape) {
    return "FAT" + std::to_string(shape.fat) + "/" + std::to_string(shape.sectors_per_cluster);
}

double ratio(uint64_t a, uint64_t b) { return static_cast<double>(a) / static_cast<double>(b ? b : 1); }

double seconds(const Tally& t) { return static_cast<double>(t.time_ps) * 1e-12; }

const Row* find(const std::vector<Row>& rows, const Shape& shape, Figure figure, bool fragmented) {
    for (const Row& r : rows) {
        if (r.shape.fat == shape.fat && r.shape.sectors_per_cluster == shape.sectors_per_cluster &&
            r.workload->figure == figure && r.workload->fragmented == fragmented) {
            return &r;
        }
    }
    return nullptr;
}

// The shapes of the rows, each once, in their order.
std::vector<Shape> shapes_of(const std::vector<Row>& rows) {
    std::vector<Shape> shapes;
    for (const Row& r : rows) {
        if (shapes.empty() || shapes.back().fat != r.shape.fat ||
            shapes.back().sectors_per_cluster != r.shape.sectors_per_cluster) {
            shapes.push_back(r.shape);
        }
    }
    return shapes;
}

void print_seek_row(const std::vector<Row>& rows, const Shape& shape, bool fragmented) {
    const Row* sequential = find(rows, shape, Figure::SequentialReads, fragmented);
    const Row* random = find(rows, shape, Figure::RandomReads, fragmented);
    const Row* fresh = find(rows, shape, Figure::FreshWrite, fragmented);
    if (!sequential || !random || !fresh) {
        return;
    }
    std::printf("%-9s %-11s %10.3f %10.0f %10llu %12.0f\n", volume_name(shape).c_str(),
                fragmented ? "fragmented" : "contiguous",
                ratio(sequential->tally.bus_bytes, sequential->tally.payload),
                ratio(random->tally.bus_bytes, random->tally.calls),
                static_cast<unsigned long long>(fresh->tally.bus_bytes),
                ratio(random->tally.instructions, random->tally.calls));
}

void print_seek_figures(const std::vector<Row>& rows) {
    const std::vector<Shape> shapes = shapes_of(rows);
    const Row* random = shapes.empty() ? nullptr : find(rows, shapes.front(), Figure::RandomReads, false);
    const Row* random_fragmented =
        shapes.empty() ? nullptr : find(rows, shapes.front(), Figure::RandomReads, true);
    if (random == nullptr || random_fragmented == nullptr) {
        return;
    }
    std::printf(
        "\nSeeks, on the byte-counted card (the card model's delays counted in bytes clocked:\n"
        "a 2-byte read gap, 4 busy bytes), so that the bus bytes are the module's own traffic whatever\n"
        "the card's timing. Random reads: %llu calls on the contiguous file, %llu on the fragmented one.\n",
        static_cast<unsigned long long>(random->tally.calls),
        static_cast<unsigned long long>(random_fragmented->tally.calls));
    std::printf("%-21s %10s %10s %10s %12s\n", "", "1 MB read", "random", "fresh open", "random read");
    std::printf("%-21s %10s %10s %10s %12s\n", "", "bus per", "read: bus", "+ write:", "instructions");
    std::printf("%-9s %-11s %10s %10s %10s %12s\n", "volume", "file", "payload", "per call", "bus bytes",
                "per call");
    for (const Shape& shape : shapes) {
        print_seek_row(rows, shape, false);
        print_seek_row(rows, shape, true);
    }
}

// A load's reads alone: the load less the "mount and open" row on the same
// volume, whose set-up and name lookup in the root are the load's own too.
void print_load_reads(const std::vector<Row>& rows) {
    bool any = false;
    for (const Shape& shape : shapes_of(rows)) {
        const Row* opened = find(rows, shape, Figure::MountAndOpen, false);
        const Row* load = find(rows, shape, Figure::Load50k, false);
        if (opened != nullptr && load != nullptr) {
            if (!any) {
                std::printf(
                    "\nload a 50,000-byte program, byte-counted card, the \"mount and open\" row taken "
                    "out:\n");
                any = true;
            }
            const uint64_t reads = load->tally.bus_bytes - opened->tally.bus_bytes;
            std::printf("  %-9s %llu bus bytes, %.3f per payload byte\n", volume_name(shape).c_str(),
                        static_cast<unsigned long long>(reads), ratio(reads, load->tally.payload));
        }
    }
}

// The block loop alone: from the start token to the end of the CRC the card
// sends without a pause, so what is left of the time is the module's work.
void print_block_loop_share(const std::vector<Row>& rows) {
    std::printf("\n1 MB in 512-byte reads, contiguous, byte-counted card: share of the time the bus shifts,\n"
                "over the whole call and within the data blocks (token to CRC)\n");
    for (const Shape& shape : shapes_of(rows)) {
        const Row* r = find(rows, shape, Figure::SequentialReads, false);
        if (r != nullptr && r->tally.block_ps != 0) {
            const Tally& t = r->tally;
            std::printf("  %-9s %.1f%% of the call, %.1f%% of the blocks\n", volume_name(shape).c_str(),
                        100.0 * static_cast<double>(t.shifting_ps) / static_cast<double>(t.time_ps),
                        100.0 * static_cast<double>(t.block_shifting_ps) / static_cast<double>(t.block_ps));
        }
    }
}

} // namespace

void print_header(const Setting& s) {
    std::printf("Time on the chip: the image in the emulator, SYSCLK %.0f MHz, peripheral bus %.0f MHz,\n"
                "%u flash wait state; bus limit %.1f kB/s (SPI2BRG %u); kB = 1000 bytes; SDHC card, on the\n"
                "card profiles %s (sim/card_timing.h); %s counts; host interrupts: %s.\n\n",
                s.sysclk_mhz, s.pbclk_mhz, s.flash_wait_states, s.bus_limit_bytes_per_s / 1e3, s.brg,
                s.cards.c_str(), s.full ? "full" : "short-run", s.interrupts.c_str());
    std::printf("%-50s %-8s %-7s %6s %9s %10s %8s %10s %8s %7s %8s %8s %6s\n", "workload", "volume", "card",
                "calls", "payload", "bus bytes", "bus/pay", "time ms", "kB/s", "of bus", "ins/byte",
                "shifting", "wall");
}

void print_row(const Row& r, double limit) {
    const Tally& t = r.tally;
    std::printf("%-50s %-8s %-7s %6llu %9llu %10llu", r.workload->name, volume_name(r.shape).c_str(), r.card,
                static_cast<unsigned long long>(t.calls), static_cast<unsigned long long>(t.payload),
                static_cast<unsigned long long>(t.bus_bytes));
    if (t.payload) {
        const double throughput = static_cast<double>(t.payload) / seconds(t);
        std::printf(" %8.2f %10.2f %8.1f %6.1f%%", ratio(t.bus_bytes, t.payload), seconds(t) * 1e3,
                    throughput / 1e3, 100 * throughput / limit);
    } else {
        std::printf(" %8s %10.2f %8s %7s", "-", seconds(t) * 1e3, "-", "-");
    }
    std::printf(" %8.1f %7.1f%% %5.1fs\n", ratio(t.instructions, t.bus_bytes),
                100.0 * ratio(t.shifting_ps, t.time_ps), r.wall_s);
}

void write_csv(const std::string& path, const std::vector<Row>& rows, double limit) {
    std::ofstream csv(path);
    csv << "workload,volume,card,sectors_per_cluster,calls,payload_bytes,bus_bytes,bus_bytes_per_payload_"
           "byte,"
           "time_ms,payload_kB_per_s,share_of_bus_limit,instructions_per_bus_byte,bus_shifting_share,"
           "ms_per_call,bus_limit_kB_per_s\n";
    for (const Row& r : rows) {
        const Tally& t = r.tally;
        const double throughput = t.payload ? static_cast<double>(t.payload) / seconds(t) : 0;
        char line[512];
        std::snprintf(
            line, sizeof line, "\"%s\",FAT%d,%s,%d,%llu,%llu,%llu,%.3f,%.3f,%.1f,%.4f,%.2f,%.4f,%.4f,%.1f\n",
            r.workload->name, r.shape.fat, r.card, r.shape.sectors_per_cluster,
            static_cast<unsigned long long>(t.calls), static_cast<unsigned long long>(t.payload),
            static_cast<unsigned long long>(t.bus_bytes), t.payload ? ratio(t.bus_bytes, t.payload) : 0,
            seconds(t) * 1e3, throughput / 1e3, throughput / limit, ratio(t.instructions, t.bus_bytes),
            ratio(t.shifting_ps, t.time_ps), seconds(t) * 1e3 / static_cast<double>(t.calls), limit / 1e3);
        csv << line;
    }
}

void print_record_cost(const std::vector<Row>& rows, const std::vector<Row>& byte_counted) {
    std::vector<const Row*> grown;
    for (const std::vector<Row>* from : {&rows, &byte_counted}) {
        for (const Row& r : *from) {
            if (r.workload->figure == Figure::GrownRecords) {
                grown.push_back(&r);
            }
        }
    }
    if (grown.empty()) {
        return;
    }
    std::printf("\nper 20-byte record appended with command 11 (growing image):\n");
    for (const Row* r : grown) {
        const double calls = static_cast<double>(r->tally.calls ? r->tally.calls : 1);
        std::printf("  %-9s %-12s %.0f bus bytes, %.2f ms\n", volume_name(r->shape).c_str(), r->card,
                    static_cast<double>(r->tally.bus_bytes) / calls, seconds(r->tally) * 1e3 / calls);
    }
}

void print_byte_counted_figures(const std::vector<Row>& rows) {
    print_seek_figures(rows);
    print_block_loop_share(rows);
    print_load_reads(rows);
}

} // namespace bench
