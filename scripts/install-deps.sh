#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and only what is
# missing: the host toolchain and test libraries, clang for fuzzing, the
# mingw-w64 cross compiler, 32-bit Wine, Xvfb, Python for the simulators
# and a JDK for the Java bridge.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686
  wine wine32:i386 wine64
  xvfb xauth
  python3
  openjdk-17-jdk-headless
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -ne 0 ]] && sudo=(sudo)
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
  --no-install-recommends "${missing[@]}"
