#!/usr/bin/env bash
# Builds every preset and runs every test. Any failing step fails the whole run.
set -euo pipefail
cd "$(dirname "$0")/.."

step() { echo; echo "==== $*"; }

step "layers (every include within its layer)"
bash scripts/check-layers.sh

bash scripts/setup.sh

step "native build (default preset)"
cmake --preset default >/dev/null
cmake --build --preset default

step "native tests"
ctest --preset default

step "the simulated notebook's MBIM device against the public client (mbimcli)"
bash scripts/mbim-check.sh build/default

step "the Debian package: built (release preset), lintian, installed with apt, run, removed"
bash scripts/deb-check.sh

step "sanitizer build (asan preset)"
cmake --preset asan >/dev/null
cmake --build --preset asan

step "sanitizer tests"
LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset asan

step "fuzz targets, a few seconds each (fuzz preset: clang, libFuzzer, ASan, UBSan)"
bash scripts/fuzz.sh 5

step "thread sanitizer build and tests: job runners, waits, session layer, simulator completions, own channel (tsan preset)"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan

step "benchmarks: the bench preset built, each benchmark run once (no timing judged)"
bash scripts/bench.sh --smoke

step "Windows x64 cross-build with its tests (windows preset)"
cmake --preset windows >/dev/null
cmake --build --preset windows

step "Windows x86 cross-build with its tests (windows-x86 preset)"
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86

step "exported interfaces"
bash scripts/check-exports.sh

step "Windows x64 under Wine"
bash scripts/wine-stage.sh build/windows

step "Windows x86 under Wine (installed in SysWOW64)"
skipped=""
wine32_ok() { bash -c 'source scripts/wine-prefix.sh && wine32_present'; }
if wine32_ok; then
  bash scripts/wine-stage.sh build/windows-x86
else
  skipped="the x86 Wine stage ($(bash -c 'source scripts/wine-prefix.sh && wine32_absence'))"
  echo "SKIPPED: $skipped"
fi

step "Windows Installer packages under Wine: install, run, service, repair, upgrade, downgrade refused, uninstall, failed install"
bash scripts/msi-stage.sh x86 x64
if ! wine32_ok; then
  skipped="${skipped:+$skipped; }running the x86 package's programs (no 32-bit Wine)"
fi

echo
if [ -n "$skipped" ]; then echo "all steps passed; SKIPPED: $skipped"; else echo "all steps passed"; fi
