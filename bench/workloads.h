// What the benchmark measures. A workload is a row: its name, how many
// counted calls it makes (in full, and in the short run CI makes) and a
// function that prepares (uncounted) and then makes them on a fresh rig.
// Adding one takes its files in fill_volume() and a row in workloads().
#pragma once

#include <vector>

#include "timed_rig.h"
#include "volume.h"

namespace bench {

// What the figures printed below chip_time's table read a row as.
enum class Figure { None, MountAndOpen, SequentialReads, RandomReads, FreshWrite, Load50k, GrownRecords };

// The chip image a workload runs on.
enum class Image { Standard, Growing };

struct Workload {
    const char* name;
    int full;      // repetitions the figures are defined with
    int short_run; // in the short run: where every one walks a long cluster chain
    void (*run)(TimedRig& rig, int repetitions);
    Figure figure = Figure::None;
    bool fragmented = false; // on the file whose clusters alternate with another's
    Image image = Image::Standard;
};

// Puts on a freshly formatted volume every file the workloads use.
void fill_volume(const testsupport::Volume& volume);

const std::vector<Workload>& workloads();

// Whether the row is one of the seek figures.
bool is_seek(const Workload& w);

} // namespace bench
