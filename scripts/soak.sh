#!/usr/bin/env bash
# Soak: many TxlApply and txlctl processes against one simulated notebook for a given time, some of
# them killed at random moments, then checks that
#   - every process ended with a defined result: one of the library's result codes (0-5, 50; txlctl
#     also 64), or killed by this script; never a crash, a hang or another signal;
#   - the notebook is still usable (no lock left behind by a killed process): txlctl status answers;
#   - the modem holds one whole set (1 or 2) as read back, unless the last run to end was killed in
#     the middle of its writes; and a final TxlApply 1 puts set 1 on whole.
# Not part of CI: it runs as long as asked.
#
#   scripts/soak.sh [-n PROCESSES] [-t SECONDS] [-k KILL_PERCENT] [-l LATENCY_MS] [-b BUILD_DIR]
#
# Defaults: 4 processes, 60 s, 25 % of the runs killed, no added modem latency, build/default.
set -euo pipefail
cd "$(dirname "$0")/.."

procs=4 seconds=60 kill_percent=25 latency_ms=0 build=build/default
while getopts "n:t:k:l:b:h" opt; do
  case $opt in
    n) procs=$OPTARG ;;
    t) seconds=$OPTARG ;;
    k) kill_percent=$OPTARG ;;
    l) latency_ms=$OPTARG ;;
    b) build=$OPTARG ;;
    *) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 64 ;;
  esac
done
for v in "$procs" "$seconds" "$kill_percent" "$latency_ms"; do
  [[ $v =~ ^[0-9]+$ ]] || { echo "soak: '$v' is not a whole number" >&2; exit 64; }
done

if [ ! -x "$build/bin/TxlApply" ] || [ ! -x "$build/bin/txlctl" ]; then
  if [ "$build" = build/default ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target VexelSarDll krillTXLApi TxlApply txlctl >/dev/null
  else
    echo "soak: $build/bin has no TxlApply or txlctl" >&2
    exit 1
  fi
fi
bin=$(cd "$build/bin" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/txl-soak.XXXXXX")
export TXL_TIME_SCALE=${TXL_TIME_SCALE:-0.01} TXL_SIM_TRACE=0

# The tables as the control library reads them back: txlctl's JSON line (the bridge writes its
# console trace on the same output).
readback() { "$bin/txlctl" --json table get 2>/dev/null | grep '^{' || true; }

# The read-back of a whole set, taken on a notebook of its own.
reference() {
  local machine=$work/reference-$1
  mkdir -p "$machine"
  TXL_MACHINE_DIR=$machine "$bin/TxlApply" "$1" >/dev/null 2>&1
  TXL_MACHINE_DIR=$machine readback
}
ref1=$(reference 1)
ref2=$(reference 2)
[ -n "$ref1" ] && [ "$ref1" != "$ref2" ] || { echo "soak: sets 1 and 2 read back alike; nothing to tell apart" >&2; exit 1; }

export TXL_MACHINE_DIR=$work/machine
mkdir -p "$TXL_MACHINE_DIR/modem"
if [ "$latency_ms" -gt 0 ]; then printf '[faults]\nlatency_ms=%s\n' "$latency_ms" >"$TXL_MACHINE_DIR/modem/modem.ini"; fi
results=$work/results
: >"$results"

txlctl_reads=(status "table get" imei enable on mode profile)

# One worker: runs one program after the other until the deadline. Each line of the results:
# "<end time in ns> <program> <argument> <exit status> <killed: 1 or 0>".
worker() {
  local deadline=$1 seed=$2
  RANDOM=$seed
  while [ "$(date +%s)" -lt "$deadline" ]; do
    local program args
    if ((RANDOM % 2)); then
      program=TxlApply args=$((1 + RANDOM % 2))
    else
      program=txlctl args=${txlctl_reads[RANDOM % ${#txlctl_reads[@]}]}
    fi
    # shellcheck disable=SC2086  # the txlctl command is two words
    "$bin/$program" $args >/dev/null 2>&1 &
    local pid=$! killed=0
    if ((RANDOM % 100 < kill_percent)); then
      # Anywhere in the run: a TxlApply of a new set lasts about two seconds at TXL_TIME_SCALE=0.01.
      sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
      if kill -9 "$pid" 2>/dev/null; then killed=1; fi
    fi
    local status=0
    { wait "$pid"; } 2>/dev/null || status=$?
    echo "$(date +%s%N) $program ${args// /_} $status $killed" >>"$results"
  done
}

echo "== soak: $procs processes for ${seconds}s against $TXL_MACHINE_DIR (kill $kill_percent %, latency ${latency_ms} ms, TXL_TIME_SCALE=$TXL_TIME_SCALE)"
deadline=$(($(date +%s) + seconds))
pids=()
for ((i = 0; i < procs; i++)); do
  worker "$deadline" $((i * 7919 + $$)) &
  pids+=($!)
done
# A run may wait for the modem as long as the bridge's longest wait; a worker that has not ended
# well after the deadline is hung.
hang_limit=$((seconds + 120))
for pid in "${pids[@]}"; do
  waited=0
  while kill -0 "$pid" 2>/dev/null && [ $waited -lt $hang_limit ]; do sleep 1; waited=$((waited + 1)); done
  if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: a worker has not ended ${hang_limit}s after the start: a run hangs" >&2
    pkill -9 -P "$pid" || true
    exit 1
  fi
done

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

sort -n "$results" -o "$results"
total=$(wc -l <"$results")
echo "== $total runs"
awk '{ k = $2 " " ($5 ? "killed" : "exit " $4); n[k]++ } END { for (k in n) printf "   %-22s %d\n", k, n[k] }' "$results" | sort
while read -r _ program args status killed; do
  [ "$killed" = 1 ] && continue
  case "$program:$status" in
    TxlApply:0 | TxlApply:[1-5] | TxlApply:50) ;;
    txlctl:0 | txlctl:[1-5] | txlctl:50 | txlctl:64) ;;
    *) fail "$program $args ended with status $status (above 128: a signal)" ;;
  esac
done <"$results"
nonzero=$(awk '$5 == 0 && $4 != 0' "$results" | wc -l)
[ "$nonzero" -eq 0 ] || echo "   note: $nonzero runs ended with a failure code (a busy modem may refuse; see the list above)"

if ! "$bin/txlctl" status >/dev/null 2>&1; then fail "txlctl status fails after the soak: the notebook was left unusable"; fi

now=$(readback)
last_apply=$(grep ' TxlApply ' "$results" | tail -n 1 || true)
if [ "$now" = "$ref1" ]; then
  echo "== the modem holds set 1, whole"
elif [ "$now" = "$ref2" ]; then
  echo "== the modem holds set 2, whole"
elif [ "$(awk '{print $5}' <<<"$last_apply")" = 1 ] || [ "$(awk '{print $4}' <<<"$last_apply")" != 0 ]; then
  # Runs hold the run lock to their end, so the last to end wrote last: a whole set is owed only
  # when that run finished its work.
  echo "== the modem holds no whole set; the last TxlApply to end did not finish ($last_apply)"
else
  fail "the modem holds no whole set, though the last TxlApply to end succeeded ($last_apply)"
fi

"$bin/TxlApply" 1 >/dev/null 2>&1 || fail "a final TxlApply 1 ended with $?"
[ "$(readback)" = "$ref1" ] || fail "set 1 is not whole after a final TxlApply 1"

if [ "$failures" -gt 0 ]; then
  echo "soak: $failures failures; the notebook and the results stay in $work"
  exit 1
fi
echo "soak: passed ($total runs)"
rm -rf "$work"
