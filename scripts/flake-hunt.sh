#!/usr/bin/env bash
# Runs one stage of the test command again and again while both cores and the disk are kept busy,
# and tells how many runs failed and where: a verdict that depends on the machine's speed shows up
# here instead of on somebody else's submission.
#
#   bash scripts/flake-hunt.sh STAGE [N]     N runs (default 10); stages: bash scripts/test.sh --list
#
# The load is Debian's stress-ng (installed by the set-up): STRESS, default "--cpu 2 --io 1", for
# the whole hunt; each run's output is kept in build/flake-hunt/STAGE/run-K.log. The stage is built
# once before the load starts, so the runs measure the stage and not a build. Exits non-zero when any
# run failed.
set -euo pipefail
cd "$(dirname "$0")/.."

[ $# -ge 1 ] && [ $# -le 2 ] || { echo "usage: bash scripts/flake-hunt.sh STAGE [N]" >&2; exit 64; }
stage=$1
runs=${2:-10}
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "flake-hunt: N must be a positive count" >&2; exit 64; }
bash scripts/test.sh --list | awk '{print $1}' | grep -qx -- "$stage" ||
  { echo "flake-hunt: no stage '$stage'; the stages:" >&2; bash scripts/test.sh --list >&2; exit 64; }
command -v stress-ng >/dev/null || bash scripts/setup.sh

logs=build/flake-hunt/$stage
rm -rf "$logs"
mkdir -p "$logs"

echo "== $stage: once without load first (builds what it needs)"
if ! bash scripts/test.sh --only "$stage" >"$logs/warm-up.log" 2>&1; then
  echo "flake-hunt: $stage fails even without load; see $logs/warm-up.log" >&2
  tail -20 "$logs/warm-up.log" >&2
  exit 1
fi

read -r -a load <<<"${STRESS:---cpu 2 --io 1}"
stress-ng "${load[@]}" --quiet >"$logs/stress.log" 2>&1 &
stress=$!
trap 'kill "$stress" 2>/dev/null || true; wait "$stress" 2>/dev/null || true' EXIT
sleep 1
kill -0 "$stress" 2>/dev/null || { echo "flake-hunt: stress-ng did not start:" >&2; cat "$logs/stress.log" >&2; exit 1; }
echo "== $stage: $runs runs under stress-ng ${load[*]}"

failed=0
for k in $(seq "$runs"); do
  log=$logs/run-$k.log
  t0=$(date +%s)
  if bash scripts/test.sh --only "$stage" >"$log" 2>&1; then
    echo "run $k: passed ($(( $(date +%s) - t0 )) s)"
  else
    failed=$((failed + 1))
    echo "run $k: FAILED ($(( $(date +%s) - t0 )) s); $log:"
    # Where: the failing checks, tests and sanitizer reports of the run.
    grep -E '^(FAIL|FAILED)|\*\*\*Failed|\(Failed\)|\(Timeout\)|\(SEGFAULT\)|\(Subprocess aborted\)|ERROR: |^not ok' "$log" |
      grep -v '^FAILED: stage' | sort -u | head -15 | sed 's/^/    /' || true
  fi
done
echo "flake-hunt: $stage: $((runs - failed)) of $runs runs passed under load"
[ "$failed" = 0 ]
