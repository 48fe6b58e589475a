#!/usr/bin/env bash
# Installs the Debian 12 (bookworm) packages that one task needs, and only those:
#   scripts/setup.sh demo    sdsim and the chip image (scripts/demo.sh)
#   scripts/setup.sh test    the whole test suite (scripts/test.sh)
#   scripts/setup.sh bench   the figures, the chart and the README's tables (scripts/bench.sh)
#   scripts/setup.sh fuzz    the fuzz targets (scripts/fuzz.sh)
# Several may be named at once. Safe to run again: it only asks apt for what is
# missing. Run by a normal user, it installs nothing and prints the one command
# that would, then fails.
set -euo pipefail

# The build itself: native compiler, cmake, the cross compiler for the chip
# image, the emulator that runs it, and the tools that make the demo card.
demo=(
  cmake g++ make pkg-config
  g++-mipsel-linux-gnu binutils-mipsel-linux-gnu
  libunicorn-dev
  dosfstools mtools
)
# GoogleTest; sfdisk for partitioned test volumes; sigrok-cli, the outside
# judge of the bus traces; gtkwave to look at those traces; clang-format for
# the sources.
test=("${demo[@]}" libgtest-dev fdisk sigrok-cli gtkwave clang-format)
bench=("${demo[@]}" gnuplot-nox python3)
fuzz=("${demo[@]}" clang libclang-rt-14-dev)

if [ $# -eq 0 ]; then
  echo "usage: scripts/setup.sh demo|test|bench|fuzz ..." >&2
  exit 2
fi
packages=()
for task in "$@"; do
  case $task in
    demo) packages+=("${demo[@]}") ;;
    test) packages+=("${test[@]}") ;;
    bench) packages+=("${bench[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    *) echo "setup: unknown task '$task' (demo, test, bench or fuzz)" >&2; exit 2 ;;
  esac
done

missing=()
for p in $(printf '%s\n' "${packages[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages: ${missing[*]}" >&2
  echo "setup: install them with:" >&2
  echo "  sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
