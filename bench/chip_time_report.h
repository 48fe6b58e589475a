// What chip_time prints and writes: the table of every row, its CSV, and
// below the table the figures read off the byte-counted card's rows.
#pragma once

#include <string>
#include <vector>

#include "volume_runs.h"

namespace bench {

struct Setting {
    double sysclk_mhz;
    double pbclk_mhz;
    unsigned flash_wait_states;
    double bus_limit_bytes_per_s;
    unsigned brg;
    std::string cards;
    bool full;
    std::string interrupts;
};

void print_header(const Setting& setting);
void print_row(const Row& row, double bus_limit_bytes_per_s);
void write_csv(const std::string& path, const std::vector<Row>& rows, double bus_limit_bytes_per_s);

// The seek figures per volume and a load's reads alone.
void print_byte_counted_figures(const std::vector<Row>& rows);
// What one record of the growing image's appends costs, per volume and card.
void print_record_cost(const std::vector<Row>& rows, const std::vector<Row>& byte_counted);

} // namespace bench
