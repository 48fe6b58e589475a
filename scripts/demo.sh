#!/usr/bin/env bash
# Builds the module and the bench, then shows the module at work on the virtual board.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
./build/tools/board_demo
