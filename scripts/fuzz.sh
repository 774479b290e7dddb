#!/usr/bin/env bash
# Builds the fuzz preset and runs each fuzz target for a while over a copy of its seed corpus.
#
#   scripts/fuzz.sh [seconds-per-target] [target...]
#
# Default: every target of tests/fuzz for 5 seconds each, one after the other. The seeds in
# tests/fuzz/corpus/<target>/ are copied to a scratch folder first, so the repository's corpus does
# not grow. Exits non-zero when any target reports a crash, a leak, a sanitizer finding or a
# time-out, naming the target and the reproducer libFuzzer wrote (in build/fuzz/artifacts/<target>/);
# replay one with `build/fuzz/bin/<target> <reproducer>`.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=5
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/bin
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in tests/fuzz/fuzz_*.cpp; do
    name=$(basename "$src" .cpp)
    [ -x "$bin/$name" ] && targets+=("$name")
  done
fi

# Symbolized stacks in the reports; UBSan findings stop the target (the build also makes them fatal).
symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
[ -x "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer UBSAN_SYMBOLIZER_PATH=$symbolizer
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/txl-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/logs

failed=()
for target in "${targets[@]}"; do
  if [ ! -x "$bin/$target" ]; then
    echo "fuzz: no such target: $target" >&2
    failed+=("$target (not built)")
    continue
  fi
  corpus=$scratch/$target
  mkdir -p "$corpus"
  [ -d "tests/fuzz/corpus/$target" ] && cp -r "tests/fuzz/corpus/$target/." "$corpus/"
  artifacts=build/fuzz/artifacts/$target
  mkdir -p "$artifacts"
  log=build/fuzz/logs/$target.log
  # stdout closed: the bridge's console lines would drown the fuzzer's own; reports go to stderr.
  set +e
  "$bin/$target" -max_total_time="$seconds" -timeout=60 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ $status -ne 0 ]; then
    reproducer=$(sed -n 's/.*[Tt]est unit written to \(.*\)$/\1/p' "$log" | tail -1)
    echo "FAIL $target after ${runs:-?} runs: exit $status; reproducer: ${reproducer:-none written}; log: $log"
    grep -m1 -E 'ERROR: |runtime error|SUMMARY' "$log" || true
    failed+=("$target")
  else
    echo "ok   $target: ${runs:-?} runs in ${seconds}s"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no findings"
