#!/usr/bin/env bash
# Builds the chip image and prints its figures, measured in the emulator:
# image size, stack peak per command, instructions per call.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target figures >/dev/null
./build/bench/figures
