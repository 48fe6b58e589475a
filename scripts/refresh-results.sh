#!/usr/bin/env bash
# Makes the results of the last scripts/bench.sh run (build/bench/results/) the
# committed ones: copies them into bench/results/ and rewrites the README's
# tables from them (scripts/readme_figures.py). Commit the three together.
# The seek figures of the module before seeks jumped come from
# scripts/seek-baseline.sh, run apart (it builds an earlier commit): its table
# is copied too when that script has left one.
set -euo pipefail
cd "$(dirname "$0")/.."

results=build/bench/results
for file in figures.txt chip_time.txt chip_time.csv chip_time.png; do
  if [ ! -f "$results/$file" ]; then
    echo "refresh-results: $results/$file is missing; run scripts/bench.sh first" >&2
    exit 1
  fi
done
cp "$results"/{figures.txt,chip_time.txt,chip_time.csv,chip_time.png} bench/results/
if [ -f "$results/seek-baseline.txt" ]; then
  cp "$results/seek-baseline.txt" bench/results/
fi
python3 scripts/readme_figures.py
echo "refresh-results: bench/results/ and README.md now hold the figures of $results/"
