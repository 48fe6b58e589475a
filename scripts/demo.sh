#!/usr/bin/env bash
# Builds sdsim and the chip image (nothing else), then runs the module's
# commands on the demo card with sdsim (the native build has all thirteen), the
# last one on the chip image in the emulator. The module's console messages appear as printed.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n== demo %s/4: %s\n' "$1" "$2"; }

step 1 "packages (scripts/setup.sh demo)"
bash scripts/setup.sh demo
step 2 "configuring build/"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
step 3 "building sdsim and the chip image"
cmake --build build -j"$(nproc)" --target sdsim sdcard_image
step 4 "running the module's commands on the demo card"

sdsim=build/tools/sdsim/sdsim
# A fresh demo card for every demonstration, so that it always shows the same.
export SDSIM_DEMO_CARD=build/demo-card.img
rm -f "$SDSIM_DEMO_CARD"

# Shows a command line and its input, runs it with the console messages (stderr)
# in line, and shows the exit status when it is not 0.
show() {
  local input=$1
  shift
  echo
  if [ -n "$input" ]; then
    printf '$ sdsim %s <<END\n%s\nEND\n' "$*" "$input"
  else
    printf '$ sdsim %s\n' "$*"
  fi
  local status=0
  if [ -n "$input" ]; then
    printf '%s\n' "$input" | "$sdsim" "$@" 2>&1 | tr -d '\r' || status=${PIPESTATUS[1]}
  else
    "$sdsim" "$@" </dev/null 2>&1 | tr -d '\r' || status=${PIPESTATUS[0]}
  fi
  [ "$status" -eq 0 ] || echo "[exit status $status]"
}

echo "sdsim: $sdsim    demo card: $SDSIM_DEMO_CARD"
show "" ls                        # MODE_OPENDIR, then MODE_READDIR to the end
show "" ls DATA
show "" cat HELLO.TXT             # MODE_OPEN, then MODE_READs
show "" read DATA/NUMS.TXT 0 12
show "" load SAMPLE.PRG           # MODE_LOAD
show '10 PRINT "saved on the card"
20 END' save SAVED.PRG            # MODE_SAVE
show "" load SAVED.PRG
show 'setcs 4
open HELLO.TXT
read 0 5
read -1 18
open SCRATCH.TXT
write 128 Howdy
read 124 12
opendir DATA
readdir
readdir
readdir
open MISSING.TXT
read 0 5
status' run -                     # MODE_SET_CS, MODE_WRITE, MODE_STATUS and the rest, one call a line
show "" create DATA/TEMPS.TXT     # MODE_CREATE: the native build is the growing image
show 'T=21.5' append DATA/TEMPS.TXT # MODE_APPEND: prints where the record went
show "" --target ls DATA          # the same module as the chip image, in the emulator
