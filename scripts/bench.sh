#!/usr/bin/env bash
# Builds the chip image and measures it in the emulator: image size, stack peak
# per command and instructions per call (figures), then the time on the chip
# per workload on six volumes (chip_time), drawn as a chart. Everything goes to
# build/bench/results/; the tracked copy in bench/results/ and the README's
# tables change only with --update-results (scripts/refresh-results.sh).
#   bash scripts/bench.sh                    the short run that CI makes
#   bash scripts/bench.sh --full             the workloads' full counts (far longer)
#   bash scripts/bench.sh --update-results   then copy the results into bench/results/ and the README
set -euo pipefail
cd "$(dirname "$0")/.."

update=false
run=short
chip_time_args=()
for arg in "$@"; do
  case $arg in
    --update-results) update=true ;;
    --full) run=full; chip_time_args+=(--full) ;;
    *) echo "usage: scripts/bench.sh [--full] [--update-results]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh bench
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target figures chip_time >/dev/null

results=build/bench/results
mkdir -p "$results"
./build/bench/figures | tee "$results/figures.txt"
echo
./build/bench/chip_time "${chip_time_args[@]}" --csv "$results/chip_time.csv" | tee "$results/chip_time.txt"
gnuplot -e "csv='$results/chip_time.csv'; out='$results/chip_time.png'; run='$run'" bench/chip_time.gp
echo "results and chart: $results/"

if $update; then
  bash scripts/refresh-results.sh
fi
