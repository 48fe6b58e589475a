#!/usr/bin/env bash
# Builds the chip image and prints its figures, measured in the emulator: image
# size, stack peak per command and instructions per call (figures), then the
# time on the chip per workload on six volumes (chip_time), whose rows also go
# to bench/results/chip_time.csv and are drawn into bench/results/chip_time.png.
#   bash scripts/bench.sh          the short run that CI makes
#   bash scripts/bench.sh --full   the workloads' full counts (far longer)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target figures chip_time >/dev/null
./build/bench/figures
echo
mkdir -p bench/results
./build/bench/chip_time "$@" --csv bench/results/chip_time.csv | tee bench/results/chip_time.txt
gnuplot -e "csv='bench/results/chip_time.csv'; out='bench/results/chip_time.png'" bench/chip_time.gp
echo "chart: bench/results/chip_time.png"
