#!/usr/bin/env bash
# Installs what building and testing the suite needs, only what is missing: the native toolchain,
# GoogleTest (the library and its sources, which the Windows builds compile), Google Benchmark,
# libmbim and its client mbimcli (real modems on Linux, and the check of the simulated MBIM device), the
# 64- and 32-bit mingw-w64 cross compilers, 64- and 32-bit Wine (with python3 for its serial-line peer) for the
# Windows stages, and clang 14 with its libFuzzer and sanitizer runtimes (and llvm-symbolizer) for
# the fuzz targets, wixl and msitools for the Windows Installer packages, and lintian for the Debian one.
#
#   bash scripts/setup.sh [--native]
#
# --native: only what the Linux build, its tests and its benchmarks need (the main job), without the Windows
# toolchains, Wine and clang.
set -euo pipefail
native=0
[ "${1:-}" = --native ] && native=1
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev python3 libmbim-glib-dev
          libmbim-utils)
[ "$native" = 1 ] || packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix
                                binutils-mingw-w64-i686 wine64 clang-14 libclang-rt-14-dev llvm-14 wixl msitools lintian)
for pkg in "${packages[@]}"; do
  have "$pkg" || need+=("$pkg")
done
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
# A mirror caught mid-sync fails the index download for a minute or two: try again before giving
# up, and then install from whatever indexes did arrive (the install says what it cannot find).
update_indexes() {
  local try
  for try in 1 2 3 4 5; do
    $SUDO apt-get update -qq && return 0
    echo "== package indexes incomplete (try $try of 5); again in 20 s"
    sleep 20
  done
  echo "== package indexes still incomplete; installing from what arrived"
}
install() {
  echo "== installing: $*"
  update_indexes
  $SUDO apt-get install -y -qq "$@" >/dev/null
}
[ ${#need[@]} -eq 0 ] || install "${need[@]}"
# 32-bit Wine for the x86 folder: the i386 architecture first, then its package.
# The one package that depends on a second architecture's indexes: when a mirror serves those out of
# step with the first (seen: the i386 security index stuck mid-sync for hours), it cannot be
# installed at all. That is said loudly and the 32-bit Wine stage reports itself skipped; everything
# else still needs all of its packages.
if [ "$native" = 0 ] && ! have wine32:i386; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  if ! install wine32:i386; then
    echo "== WARNING: wine32:i386 cannot be installed from this mirror now; the 32-bit Wine stage will be skipped"
  fi
fi
