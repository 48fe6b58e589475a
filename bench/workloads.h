// What the benchmark measures. A workload is a row: its name, how many
// counted calls it makes (in full, and in the short run CI makes) and a
// function that prepares (uncounted) and then makes them on a fresh rig.
// Adding one takes its files in fill_volume() and a row in workloads().
#pragma once

#include <vector>

#include "timed_rig.h"
#include "volume.h"

namespace bench {

// The chip image a workload runs on.
enum class Image { Standard, Growing };

struct Workload {
    const char* name;
    int full;      // repetitions the figures are defined with
    int short_run; // in the short run: where every one walks a long cluster chain
    void (*run)(TimedRig& rig, int repetitions);
    Image image = Image::Standard;
};

// Puts on a freshly formatted volume every file the workloads use.
void fill_volume(const testsupport::Volume& volume);

const std::vector<Workload>& workloads();

} // namespace bench
