#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, and only what is
# missing: the host toolchain and test libraries, clang for fuzzing, the
# mingw-w64 cross compilers (32-bit and 64-bit), Wine for both, Xvfb,
# Python for the simulators, a JDK for the Java bridge and wixl (msitools)
# for the installer packages.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64
  xvfb xauth
  python3
  openjdk-17-jdk-headless
  msitools wixl
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

install() {  # [apt options...]
  "${sudo[@]}" apt-get "$@" update -q || true
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get "$@" install -y -q \
    --no-install-recommends "${missing[@]}"
}

# The machine's package sources without the security suite: while a mirror
# is half synchronised its i386 index may fail to download, and the 32-bit
# libraries then no longer match the 64-bit ones already installed.
without_security_suite() {
  local dir=$1
  mkdir -p "$dir"
  for file in /etc/apt/sources.list.d/*.sources; do
    [[ -e "$file" ]] || continue
    awk -v RS= -v ORS='\n\n' '!/Suites:[^\n]*-security/' "$file" \
      >"$dir/$(basename "$file")"
  done
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [[ -e "$file" ]] || continue
    grep -v -- '-security' "$file" >"$dir/$(basename "$file")" || true
  done
}

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
if ! install; then
  echo "Installing again without the security suite's package lists"
  sources=$(mktemp -d)
  trap 'rm -rf "$sources"' EXIT
  without_security_suite "$sources"
  install -o Dir::Etc::SourceParts="$sources" -o Dir::Etc::SourceList=/dev/null
  "${sudo[@]}" apt-get update -q || true
fi
