// Every workload on every card, one volume shape at a time, shapes run side
// by side on a few threads (each shape has its own image, rigs and emulated
// CPUs), their rows handed back in the order the shapes are listed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "timed_rig.h"
#include "workloads.h"

namespace bench {

struct Shape {
    int fat;
    int sectors_per_cluster;
    uint32_t size_mib; // the least that gives this FAT type that cluster size
};

struct Row {
    const Workload* workload;
    Shape shape;
    const char* card;
    Tally tally;
    double wall_s; // this machine's time for the row
};

struct ShapeRows {
    std::vector<Row> table;        // workload by workload, each on every card in turn
    std::vector<Row> byte_counted; // the workloads with a figure, on the byte-counted card
};

struct RunPlan {
    std::vector<uint8_t> image;   // the standard image
    std::vector<uint8_t> growing; // the growing image, for the workloads of command 11
    std::vector<Card> cards;
    std::vector<emu::InterruptLoad> interrupts;
    bool full = false;
    unsigned threads = 2;
    bool only_seeks = false; // the seek workloads alone, on the byte-counted card alone
};

// Calls `done` with each shape's rows, in the order of `shapes`, as soon as
// that shape and those before it are measured. Rethrows the first failure.
void run_shapes(const RunPlan& plan, const std::vector<Shape>& shapes,
                const std::function<void(const Shape&, const ShapeRows&)>& done);

} // namespace bench
