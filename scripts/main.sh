#!/usr/bin/env bash
# The main job on a fresh simulated notebook: TxlApply 1 puts power-table set 1 on the modem through
# krillTXLApi and the bridge; then what changed on the modem; then a second run that finds the set
# in place and writes nothing.
#
#   bash scripts/main.sh [--verbose]
#
# --verbose also shows the bridge's own console lines (session traces, hex dumps of the tables).
set -euo pipefail
cd "$(dirname "$0")/.."
verbose=0
case "${1:-}" in
  --verbose | -v) verbose=1 ;;
  "") ;;
  *) echo "usage: bash scripts/main.sh [--verbose]" >&2; exit 64 ;;
esac
# What the programs write besides their answer: the bridge's console lines.
bridge_lines() { if [ "$verbose" = 1 ]; then cat; else cat >/dev/null; fi; }
txlctl_flags=()
[ "$verbose" = 1 ] && txlctl_flags=(--verbose)
bash scripts/setup.sh --native
cmake --preset default >/dev/null
# Helpers that show the notebook, when this checkout has them.
targets=(VexelSarDll krillTXLApi TxlApply)
available=$(cmake --build --preset default --target help 2>/dev/null || true)
for t in txlsim txlctl krill_client TXLGuard; do
  grep -q "^$t:" <<<"$available" && targets+=("$t")
done
cmake --build --preset default --target "${targets[@]}" >/dev/null
bin=build/default/bin

machine=$(mktemp -d "${TMPDIR:-/tmp}/txl-machine.XXXXXX")
trace=$machine/modem/trace.jsonl
export TXL_MACHINE_DIR=$machine TXL_SIM_TRACE=1
# The tool waits 120 s before it clears the modem; the simulated clock runs a hundred times faster.
export TXL_TIME_SCALE=0.01

# One line per NVM write of the body-SAR item in the trace, from line $1 on: which bytes it wrote.
nvm_writes() {
  tail -n +"$1" "$trace" 2>/dev/null |
    grep '"op":"set"' | grep -i 'e10ff51b-ac2d-4104-86f6-8d621b430189' |
    sed 's/.*"data":"\([0-9A-F]*\)".*/\1/' |
    while read -r d; do
      le() { echo $((16#${1:6:2}${1:4:2}${1:2:2}${1:0:2})); }
      offset=$(le "${d:8:8}") length=$(le "${d:16:8}")
      case "$offset,$length" in
        0,1) what="flag byte 0, body-SAR enable := $((16#${d:24:2}))" ;;
        1,1) what="flag byte 1, sensor mode := $((16#${d:24:2}))" ;;
        *) what="$length bytes at offset $offset: power table of profile $(((offset - 2) / length))" ;;
      esac
      echo "   NVM write, item 103d0000, $what"
    done
}

show_notebook() {
  if [ -x "$bin/txlsim" ]; then "$bin/txlsim" show || true; fi
  if [ -x "$bin/txlctl" ]; then
    "$bin/txlctl" "${txlctl_flags[@]}" status || true
  elif [ -x "$bin/krill_client" ]; then
    echo "   get_BodySarValue reads back:"
    TXL_SIM_TRACE=0 "$bin/krill_client" ready get-value 2>/dev/null | grep '^get-value' |
      sed 's/^get-value -> [0-9]* //; s/\\r//g; s/\\n/\n/g' | sed '/^$/d; s/^/     /'
  fi
}

echo "== simulated notebook: $machine (TXL_MACHINE_DIR; modem trace in modem/trace.jsonl)"
echo "   TXL_TIME_SCALE=$TXL_TIME_SCALE: the simulated clock runs fast, so the tool's 120 s wait before"
echo "   clearing the modem lasts 1.2 s here."
echo
echo "== the notebook before (factory tables)"
show_notebook
echo
echo "== TxlApply 1 (power-table set 1: sixteen 3G/4G band caps)"
echo "   It reads the modem's tables; as a check row is missing on a new notebook, it waits, clears"
echo "   the settings, selects profile 1 and writes its four rows. It prints nothing; the bridge's"
echo "   log goes to $bin/Dll_log/."
start=$(date +%s%N)
rc=0
"$bin/TxlApply" 1 | bridge_lines || rc=${PIPESTATUS[0]}
echo "   exit code $rc after $((($(date +%s%N) - start) / 1000000)) ms"
echo
echo "== what changed on the modem (NVM writes in the trace)"
echo "   In order: body-SAR on, mode 1; the clear (both flags and both tables back to defaults);"
echo "   mode 1 again; then one table write per row (the bridge reads the table, changes the row's"
echo "   bands and writes it back whole)."
nvm_writes 1
echo
echo "== the notebook after"
show_notebook
echo
echo "== TxlApply 1 again: every check row is in place"
before=$(($(wc -l <"$trace") + 1))
rc=0
"$bin/TxlApply" 1 | bridge_lines || rc=${PIPESTATUS[0]}
echo "   exit code $rc; the NVM writes of this run:"
nvm_writes "$before"
long=$(nvm_writes "$before" | grep -vc 'flag byte' || true)
echo "   $long write(s) longer than a flag byte: no clear, no table written, no wait."

if [ -x "$bin/TXLGuard" ] && [ -x "$bin/txlsim" ]; then
  echo
  echo "== the service: TXLGuard installed from a folder of its own, started and stopped through the"
  echo "   notebook's control manager (txlsim service), with a stand-in utility beside it"
  app="$machine/Program Files/TXL"
  mkdir -p "$app"
  cp "$bin/TXLGuard" "$app/"
  printf '#!/bin/sh\necho "Tixel Utility ran in $(pwd)" > "%s/utility.txt"\n' "$machine" >"$app/Tixel Utility.exe"
  chmod +x "$app/Tixel Utility.exe"
  svc() { echo "   \$ $*"; "$@" 2>&1 | sed 's/^/     /'; }
  svc "$app/TXLGuard" -install
  svc "$bin/txlsim" service start TXLGuard
  echo "   the version values while it runs:"
  tr -d '\r' <"$machine/registry.reg" | sed -n '/^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\TXL\]/,/^$/p' | sed '/^$/d; s/^/     /'
  for _ in $(seq 100); do [ -s "$machine/utility.txt" ] && break; sleep 0.05; done
  echo "   the utility: $(cat "$machine/utility.txt" 2>/dev/null || echo 'did not run')"
  svc "$bin/txlsim" service stop TXLGuard
  svc "$bin/txlsim" service history TXLGuard
  svc "$app/TXLGuard" -remove
  echo "   the debugger output ($machine/debug-output.log):"
  sed 's/^/     /' "$machine/debug-output.log"
fi
echo
echo "== more: bash scripts/test.sh runs every test; $bin/bridge_walk talks to the bridge by hand."
