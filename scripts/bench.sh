#!/usr/bin/env bash
# Measures the suite on this machine and writes the results into BENCHMARKS.md.
#
#   bash scripts/bench.sh [--runs N]     the benchmarks, the main job timed, BENCHMARKS.md refreshed
#   bash scripts/bench.sh --smoke        each benchmark once and the request counts; no timing kept
#
# The main job is timed as whole processes: `TxlApply 1` with every check row already in place, at
# TXL_TIME_SCALE=1, N runs (default 7), against its floor: the waits the suite must make, plus the
# data syncs its logs must make (counted in the run's bridge log file, each priced at the measured
# cost of one log line), the rest being ours. The notebook lives in memory (the simulated modem's
# own syncs are not the suite's); the program's folder, where the bridge logs, is on disk.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=7 smoke=0
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) smoke=1 ;;
    --runs) runs=$2; shift ;;
    *) echo "usage: bash scripts/bench.sh [--smoke] [--runs N]" >&2; exit 64 ;;
  esac
  shift
done

bash scripts/setup.sh --native
cmake --preset bench >/dev/null
cmake --build --preset bench
bin=build/bench/bin
out=build/bench/results
mkdir -p "$out"

# Each export's requests on both families, against the fewest its sequence makes.
requests() {
  printf '%-8s %-20s %5s %7s %4s %5s %6s   %s\n' family export opens queries sets data result fewest
  for family in osprey kestrel; do TXL_TIME_SCALE=0.001 "$bin/txl_export_requests" "$family"; done
}

if [ "$smoke" = 1 ]; then
  echo "== every benchmark once (no timing is judged)"
  "$bin/txl_bench" --benchmark_min_time=0.000000001 --benchmark_out="$out/smoke.json" --benchmark_out_format=json
  if grep -q '"error_occurred": true' "$out/smoke.json"; then
    echo "bench smoke: a benchmark reported an error" >&2
    grep -B3 '"error_message"' "$out/smoke.json" >&2
    exit 1
  fi
  echo "== device-service requests of each export"
  requests
  echo "bench smoke passed"
  exit 0
fi

echo "== benchmarks (Google Benchmark, median of 5 repetitions)"
"$bin/txl_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/benchmarks.json" --benchmark_out_format=json

echo "== device-service requests of each export"
requests | tee "$out/requests.txt"

echo "== TxlApply 1 with every check row in place, TXL_TIME_SCALE=1, $runs runs"
host=build/bench/host
rm -rf "$host" && mkdir -p "$host"
cp "$bin/TxlApply" "$bin/libkrillTXLApi.so" "$bin/VexelSarDll.so" "$host/"
base=/dev/shm
[ -d "$base" ] || base=${TMPDIR:-/tmp}
notebook=$(mktemp -d "$base/txl-bench-main.XXXXXX")
trap 'rm -rf "$notebook"' EXIT
export TXL_MACHINE_DIR=$notebook
TXL_TIME_SCALE=0.01 TXL_SIM_TRACE=0 "$host/TxlApply" 1 >/dev/null
# One run traced, to count what the modem was asked; the timed runs trace nothing.
TXL_TIME_SCALE=1 TXL_SIM_TRACE=1 "$host/TxlApply" 1 >/dev/null
trace=$notebook/modem/trace.jsonl
count() { grep -c "\"op\":\"$1\"" "$trace" || true; }
asked="$(grep -c '"op":' "$trace" || true) $(count open) $(count query) $(count set)"
# Each exchange of the library's own channel pauses 1000 ms first; the bridge pauses 1000 ms at load.
own_channel=$(grep '"op":"open"' "$trace" | grep -ci 'ffffffff-abca-4b11-a4e2-f2fc87f94488' || true)
waits_ms=$((1000 + 1000 * own_channel))

TIMEFORMAT='%R %U %S'
: >"$out/main-runs.txt"
for i in $(seq "$runs"); do
  before=$(ls "$host/Dll_log" 2>/dev/null | sort)
  { time TXL_TIME_SCALE=1 TXL_SIM_TRACE=0 "$host/TxlApply" 1 >/dev/null; } 2>>"$out/main-runs.txt.time"
  new=$(comm -13 <(echo "$before") <(ls "$host/Dll_log" | sort) | tail -1)
  lines=$(wc -l <"$host/Dll_log/$new")
  echo "$(tail -1 "$out/main-runs.txt.time") $lines" >>"$out/main-runs.txt"
done
rm -f "$out/main-runs.txt.time"

python3 scripts/bench_report.py "$out" "$runs" "$waits_ms" "$asked" BENCHMARKS.md
echo "BENCHMARKS.md refreshed"
