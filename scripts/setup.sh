#!/usr/bin/env bash
# Installs every Debian package the build, the bench and the tests need.
# Safe to run again: it only asks apt for what is missing. Run by a normal
# user, it installs nothing and prints the one command that would.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  sigrok-cli gtkwave gnuplot-nox
  libgtest-dev
  g++-mipsel-linux-gnu binutils-mipsel-linux-gnu
  libunicorn-dev
  dosfstools mtools fdisk
  clang-format
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
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
