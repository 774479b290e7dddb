#!/usr/bin/env bash
# Builds every preset and runs every test, stage by stage. Any failing stage fails the whole run.
#
#   bash scripts/test.sh                   every stage, in order
#   bash scripts/test.sh --list            the stages, one a line
#   bash scripts/test.sh --only STAGE...   just these stages (in the order given)
#   bash scripts/test.sh --from STAGE      this stage and every one after it
#
# Each stage builds what it needs itself (incrementally: nothing when its preset is built), so any
# stage can be run alone; the set-up runs first every time and installs only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

stages=(layers native-build native-tests mbim-check deb asan-build asan-tests fuzz tsan-build tsan-tests bench
        windows-build windows-x86-build exports wine-x64 wine-x86 msi)
declare -A about=(
  [layers]="every include within its layer"
  [native-build]="native build (default preset)"
  [native-tests]="native tests"
  [mbim-check]="the simulated notebook's MBIM device against the public client (mbimcli), and the suite through libmbim"
  [deb]="the Debian package: built (release preset), lintian, installed with apt, run, removed"
  [asan-build]="sanitizer build (asan preset)"
  [asan-tests]="sanitizer tests (ASan, UBSan, LeakSanitizer)"
  [fuzz]="fuzz targets: each replays its corpus, then a fixed number of runs from a fixed seed (fuzz preset: clang, libFuzzer, ASan, UBSan)"
  [tsan-build]="thread sanitizer build (tsan preset)"
  [tsan-tests]="thread sanitizer tests: job runners, waits, session layer, simulator completions, own channel"
  [bench]="benchmarks: the bench preset built, each benchmark run once (no timing judged)"
  [windows-build]="Windows x64 cross-build with its tests (windows preset)"
  [windows-x86-build]="Windows x86 cross-build with its tests (windows-x86 preset)"
  [exports]="exported interfaces, file versions and imports of the native and Windows binaries"
  [wine-x64]="Windows x64 under Wine"
  [wine-x86]="Windows x86 under Wine (installed in SysWOW64)"
  [msi]="Windows Installer packages under Wine: install, run, service, repair, upgrade, downgrade refused, uninstall, failed install"
)

usage() {
  echo "usage: bash scripts/test.sh [--list | --only STAGE... | --from STAGE]" >&2
  echo "stages: ${stages[*]}" >&2
  exit 64
}
known() { [ -n "${about[$1]:-}" ]; }

selected=()
case "${1:-}" in
  "") selected=("${stages[@]}") ;;
  --list)
    for s in "${stages[@]}"; do printf '%-18s %s\n' "$s" "${about[$s]}"; done
    exit 0
    ;;
  --only)
    shift
    [ $# -gt 0 ] || usage
    for s in "$@"; do known "$s" || { echo "test: no stage '$s'" >&2; usage; }; selected+=("$s"); done
    ;;
  --from)
    [ $# -eq 2 ] && known "$2" || { echo "test: --from takes one stage name" >&2; usage; }
    on=0
    for s in "${stages[@]}"; do [ "$s" = "$2" ] && on=1; [ $on = 1 ] && selected+=("$s"); done
    ;;
  *) usage ;;
esac

build() {  # preset
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

stage_layers() { bash scripts/check-layers.sh; }
stage_native-build() { build default; }
stage_native-tests() { build default >/dev/null; ctest --preset default; }
stage_mbim-check() { build default >/dev/null; bash scripts/mbim-check.sh build/default; }
stage_deb() { bash scripts/deb-check.sh; }
stage_asan-build() { build asan; }
stage_asan-tests() {
  build asan >/dev/null
  LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --preset asan
}
stage_fuzz() { bash scripts/fuzz.sh --seed 1; }
stage_tsan-build() { build tsan; }
stage_tsan-tests() { build tsan >/dev/null; TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --preset tsan; }
stage_bench() { bash scripts/bench.sh --smoke; }
stage_windows-build() { build windows; }
stage_windows-x86-build() { build windows-x86; }
stage_exports() { build default >/dev/null; build windows >/dev/null; build windows-x86 >/dev/null; bash scripts/check-exports.sh; }
stage_wine-x64() { build windows >/dev/null; bash scripts/wine-stage.sh build/windows; }
# Without 32-bit Wine the stage fails and says why; the set-up makes a machine able to run it.
stage_wine-x86() { build windows-x86 >/dev/null; bash scripts/wine-stage.sh build/windows-x86; }
stage_msi() { bash scripts/msi-stage.sh x86 x64; }

bash scripts/setup.sh

started=$(date +%s)
passed=0
for s in "${selected[@]}"; do
  echo
  echo "==== $s: ${about[$s]}"
  t0=$(date +%s)
  set +e
  ( set -e; "stage_$s" )
  rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    echo
    echo "FAILED: stage $s (exit $rc, after $(( $(date +%s) - t0 )) s); again with: bash scripts/test.sh --only $s"
    echo "stages: $passed passed, 1 failed"
    exit 1
  fi
  echo "---- $s passed in $(( $(date +%s) - t0 )) s"
  passed=$((passed + 1))
done

echo
echo "all ${#selected[@]} stages passed in $(( $(date +%s) - started )) s"
echo "stages: $passed passed, 0 failed"
