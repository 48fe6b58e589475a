#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer in a build of their own
# (build-fuzz), runs every committed seed and regression input once, then
# fuzzes each target for FUZZ_SECONDS (default 60) from its seeds and prints
# the runs and the module's coverage. A crash stops the script; its input is
# left in build-fuzz/ for fuzz/regressions/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh fuzz

seconds=${FUZZ_SECONDS:-60}
out=build-fuzz
cmake -S fuzz -B "$out" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$out" -j"$(nproc)"

for target in corrupt_volume call_sequence; do
  fuzzer=$out/${target}_fuzzer
  inputs=(fuzz/corpus/"$target"/*)
  if compgen -G "fuzz/regressions/$target/*" >/dev/null; then
    inputs+=(fuzz/regressions/"$target"/*)
  fi
  "$fuzzer" "${inputs[@]}" >"$out/$target-replay.log" 2>&1 ||
    { tail -n 40 "$out/$target-replay.log"; echo "fuzz: $target: a committed input fails"; exit 1; }
  echo "fuzz: $target: ${#inputs[@]} seed and regression inputs pass"

  work=$out/$target-corpus
  rm -rf "$work" && mkdir -p "$work"
  if ! "$fuzzer" -max_total_time="$seconds" -max_len=4096 -len_control=0 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$out/$target-" "$work" fuzz/corpus/"$target" >"$out/$target.log" 2>&1; then
    tail -n 40 "$out/$target.log"
    echo "fuzz: $target: crash; input in $out/$target-*"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$target.log")
  cov=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$out/$target.log" | sed -E 's/.*cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/\1 edges, \2 features, \3 inputs in the corpus/')
  echo "fuzz: $target: $runs runs in ${seconds} s, coverage $cov"
done
