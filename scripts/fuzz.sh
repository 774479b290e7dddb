#!/usr/bin/env bash
# Builds the fuzz preset and runs each fuzz target over a copy of its seed corpus.
#
#   scripts/fuzz.sh [--runs N] [--seed S] [target...]   the gate: repeats exactly
#   scripts/fuzz.sh SECONDS [target...]                  open-ended exploration
#
# The gate (what the test command runs): each target replays its whole seed corpus and then makes
# N more runs (default 10000; fewer for the slowest targets, see gate_runs, unless --runs is given)
# from the fixed seed S (default 1), one process, no time limit on the
# exploration, so two runs of the same tree execute the same units and reach the same coverage. The
# line of each target shows its executed units, coverage and features, which two runs must share.
# To repeat exactly, the gate turns off address randomisation and libFuzzer's mutations from
# compared values; the timed exploration keeps them.
# With SECONDS, each target explores for that long from a seed libFuzzer picks: for searching
# longer by hand, not for a verdict.
#
# The seeds in tests/fuzz/corpus/<target>/ are copied to a scratch folder first (build/fuzz/scratch,
# so one fuzz.sh at a time in a tree), so the repository's corpus does not grow. Exits non-zero when any target reports a crash, a leak, a sanitizer finding
# or a time-out, naming the target and the reproducer libFuzzer wrote (in
# build/fuzz/artifacts/<target>/); replay one with `build/fuzz/bin/<target> <reproducer>`. A finding
# is mended, then kept: the reproducer goes into the target's corpus folder and its case into the
# table test of the code it broke.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=""
runs=10000
runs_given=0
seed=1
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=${2:?--runs needs a count}; runs_given=1; shift 2 ;;
    --seed) seed=${2:?--seed needs a number}; shift 2 ;;
    --*) echo "fuzz: unknown option $1" >&2; exit 64 ;;
    *) break ;;
  esac
done
[[ "$runs" =~ ^[0-9]+$ && "$seed" =~ ^[0-9]+$ ]] || { echo "fuzz: --runs and --seed take whole numbers" >&2; exit 64; }

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

# One fixed place, so that the gate's paths are the same on every run of a tree.
scratch=$PWD/build/fuzz/scratch
rm -rf "$scratch"
mkdir -p "$scratch"
trap 'rm -rf "$scratch"' EXIT
mkdir -p build/fuzz/logs

# The gate's runs for the targets that drive the whole stack (thousands of runs a minute, not a
# second): about a quarter of a minute each here. Every other target makes --runs.
declare -A gate_runs=([fuzz_api_replies]=1500 [fuzz_identification]=1000 [fuzz_value_text]=800
                      [fuzz_front_door]=5000 [fuzz_bridge_responses]=5000)

stat_of() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }

failed=()
for target in "${targets[@]}"; do
  if [ ! -x "$bin/$target" ]; then
    echo "fuzz: no such target: $target" >&2
    failed+=("$target (not built)")
    continue
  fi
  corpus=$scratch/$target
  mkdir -p "$corpus"
  seeds=0
  if [ -d "tests/fuzz/corpus/$target" ]; then
    cp -r "tests/fuzz/corpus/$target/." "$corpus/"
    seeds=$(find "$corpus" -type f | wc -l)
  fi
  artifacts=build/fuzz/artifacts/$target
  mkdir -p "$artifacts"
  log=build/fuzz/logs/$target.log
  if [ -n "$seconds" ]; then
    budget=(-max_total_time="$seconds")
    what="in ${seconds}s"
    fixed=()
  else
    # The same inputs on every run need the same addresses and paths: both reach the comparisons
    # libFuzzer takes its next mutations from. So no address randomisation, and a scratch notebook
    # folder of a fixed name (the target's own, removed after it).
    export TXL_FUZZ_SCRATCH=$scratch/notebook-$target
    # -runs counts the replayed seeds too: the exploration after them is the same N on every run.
    explore=$runs
    [ "$runs_given" = 1 ] || explore=${gate_runs[$target]:-$runs}
    # And no mutations taken from compared values: the targets that drive the simulated notebook
    # compare file contents and names that differ from run to run however fixed the paths are.
    budget=(-runs=$((seeds + explore)) -seed="$seed" -use_cmp=0 -use_memmem=0)
    what="($seeds seeds, then $explore from seed $seed)"
    fixed=()
    if setarch -R true 2>/dev/null; then fixed=(setarch -R); else what="$what, addresses randomised (setarch -R refused)"; fi
  fi
  # stdout closed: the bridge's console lines would drown the fuzzer's own; reports go to stderr.
  set +e
  "${fixed[@]}" "$bin/$target" "${budget[@]}" -timeout=60 -close_fd_mask=1 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" >"$log" 2>&1
  status=$?
  set -e
  units=$(stat_of number_of_executed_units "$log")
  # The last status line's coverage and features: what a repeat of the gate must reach again.
  reached=$(grep -E '^#[0-9]+' "$log" | tail -1 | grep -oE 'cov: [0-9]+ ft: [0-9]+' || true)
  if [ $status -ne 0 ]; then
    reproducer=$(sed -n 's/.*[Tt]est unit written to \(.*\)$/\1/p' "$log" | tail -1)
    echo "FAIL $target after ${units:-?} runs: exit $status; reproducer: ${reproducer:-none written}; log: $log"
    grep -m1 -E 'ERROR: |runtime error|SUMMARY' "$log" || true
    failed+=("$target")
  else
    echo "ok   $target: ${units:-?} units $what, ${reached:-no coverage line}"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in: ${failed[*]}" >&2
  echo "fuzz: mend each, then keep its reproducer in tests/fuzz/corpus/<target>/ and its case as a table row" >&2
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no findings"
