#!/usr/bin/env bash
# Builds and tests every standard build type with GCC and with clang++, warnings
# as errors, each in build-variants/<compiler>-<type>. Too slow for CI on two
# cores; run it by hand before a release or after touching compiler flags.
#   scripts/variants.sh                      all eight
#   scripts/variants.sh clang++:Release ...  only these (compiler:type, type "plain" for none)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test fuzz

variants=("$@")
if [ ${#variants[@]} -eq 0 ]; then
  for cxx in g++ clang++; do
    for type in Release Debug RelWithDebInfo plain; do
      variants+=("$cxx:$type")
    done
  done
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
for variant in "${variants[@]}"; do
  cxx=${variant%%:*}
  type=${variant#*:}
  dir=build-variants/$cxx-$type
  type_flag=(-DCMAKE_BUILD_TYPE="$type")
  if [ "$type" = plain ]; then
    type_flag=(-UCMAKE_BUILD_TYPE)
  fi
  echo "== $cxx $type"
  cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" "${type_flag[@]}" "${launcher[@]}" >/dev/null
  if ! cmake --build "$dir" -j"$(nproc)" >"$dir/build.log" 2>&1; then
    grep -E -B2 -A8 'error|Error' "$dir/build.log" | head -60
    exit 1
  fi
  ctest --test-dir "$dir" -j"$(nproc)" --output-on-failure | tail -3
done
