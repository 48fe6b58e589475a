#!/usr/bin/env bash
# Builds everything and runs the whole test suite.
#   scripts/test.sh              the normal build
#   scripts/test.sh --sanitize   the same tests under AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
skip=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  flags=(-DCMAKE_BUILD_TYPE=Debug -DSDCARD_SANITIZE=ON)
  # The power-cut sweeps run the write paths of the other tests again some
  # 29,000 times; under the sanitizers that alone takes about seven minutes,
  # so they run in the normal build only. So do the pause sweeps, which run a
  # block read and a block write on the chip image some 40,000 times (about
  # 14 minutes of CPU under the sanitizers), and the glitch-out sweeps, which
  # run a write and a read some 85,000 times.
  skip=(-E 'PowerCut|PauseSweep|GlitchOut')
fi

cmake -S . -B "$build" "${flags[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${skip[@]}"
