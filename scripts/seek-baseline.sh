#!/usr/bin/env bash
# The seek figures of the module as it was before seeks jumped:
# builds the standard chip image of commit 7a6ee9d, the last whose module
# walked a file's cluster chain one FAT read per cluster (the next one,
# 423bd6a, learnt runs of clusters), in a scratch clone of this repository,
# and runs this tree's chip_time on it with the seek workloads alone. The
# table goes to build/bench/results/seek-baseline.txt, which
# scripts/refresh-results.sh commits beside the others.
#   bash scripts/seek-baseline.sh [COMMIT]
set -euo pipefail
cd "$(dirname "$0")/.."

commit=${1:-7a6ee9d}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

git clone --quiet --no-checkout . "$scratch/src"
git -C "$scratch/src" -c advice.detachedHead=false checkout --quiet "$commit"
cmake -S "$scratch/src" -B "$scratch/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$scratch/build" -j2 --target sdcard_image >/dev/null

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target chip_time >/dev/null
results=build/bench/results
mkdir -p "$results"
{
  echo "Commit $(git rev-parse --short=7 "$commit"), the module before seeks jumped:"
  ./build/bench/chip_time --only seeks --image "$scratch/build/target/sdcard.bin" \
    --elf "$scratch/build/target/sdcard.elf"
} | tee "$results/seek-baseline.txt"
