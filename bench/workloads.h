// What the benchmark measures. A workload is a row: its name and a function
// that prepares (uncounted) and then makes its counted calls on a fresh rig.
// Adding one takes its files in fill_volume() and a row in workloads().
#pragma once

#include <vector>

#include "timed_rig.h"
#include "volume.h"

namespace bench {

struct Workload {
    const char* name;
    void (*run)(TimedRig& rig);
};

// Puts on a freshly formatted volume every file the workloads use.
void fill_volume(const testsupport::Volume& volume);

const std::vector<Workload>& workloads();

} // namespace bench
