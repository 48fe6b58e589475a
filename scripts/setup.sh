#!/usr/bin/env bash
# Installs every Debian package the build, the bench and the tests need.
# Safe to run again: it only asks apt for what is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  sigrok-cli gtkwave gnuplot-nox
  libgtest-dev
  g++-mipsel-linux-gnu binutils-mipsel-linux-gnu
  libunicorn-dev
  dosfstools mtools fdisk
  clang-format
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
