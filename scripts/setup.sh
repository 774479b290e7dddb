#!/usr/bin/env bash
# Installs what building and testing the suite needs, only what is missing: the native toolchain,
# GoogleTest (the library and its sources, which the Windows builds compile), the 64- and 32-bit
# mingw-w64 cross compilers, 64- and 32-bit Wine (with python3 for its serial-line peer) for the
# Windows stages, and clang 14 with its libFuzzer and sanitizer runtimes (and llvm-symbolizer) for
# the fuzz targets.
set -euo pipefail
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake ninja-build g++ googletest libgtest-dev libgmock-dev g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
           g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine64 python3 clang-14 libclang-rt-14-dev llvm-14; do
  have "$pkg" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "== installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi
# 32-bit Wine for the x86 folder: the i386 architecture first, then its package.
if ! have wine32:i386; then
  echo "== installing: wine32:i386"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq wine32:i386 >/dev/null
fi
