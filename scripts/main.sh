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

# The power tables as txlctl reads them back (technology, band, dBm), one row per band.
table_rows() { "$bin/txlctl" "${txlctl_flags[@]}" table get | awk 'NF == 3 && $3 ~ /^[0-9.]+$/'; }

# The rows of $2 (after) that differ from $1 (before), each with its value before; then how many
# stayed as they were.
changed_rows() {
  awk 'NR == FNR { was[$1 " " $2] = $3; next }
       { key = $1 " " $2
         if (key in was && was[key] == $3) { same++; next }
         printf "   %s band %-3s %5s dBm   %s\n", $1, $2, $3, (key in was) ? "was " was[key] : "new" }
       END { printf "   %d band(s) as they were\n", same }' "$1" "$2"
}

step=0
heading() { step=$((step + 1)); echo; echo "== $step. $*"; }

echo "== The main job on a simulated notebook: TxlApply puts power-table set 1 (sixteen 3G/4G band"
echo "   caps) on the modem through krillTXLApi and the bridge, and a second run finds it in place."
echo "   Notebook: $machine (TXL_MACHINE_DIR); every modem request is traced in modem/trace.jsonl."
echo "   TXL_TIME_SCALE=$TXL_TIME_SCALE: the simulated clock runs fast, so the tool's 120 s wait before"
echo "   clearing the modem lasts 1.2 s here. With --verbose: the notebook in full and the bridge's lines."

heading "The notebook before: what txlctl status reads through the control library"
[ "$verbose" = 1 ] && "$bin/txlsim" show
"$bin/txlctl" "${txlctl_flags[@]}" status | sed 's/^/   /'
table_rows >"$machine/tables-before.txt"

heading "TxlApply 1"
echo "   It reads the modem's tables; as a check row is missing on a new notebook, it waits, clears"
echo "   the settings, selects profile 1 and writes its four rows. It prints nothing; the bridge's"
echo "   log goes to $bin/Dll_log/."
start=$(date +%s%N)
rc=0
"$bin/TxlApply" 1 | bridge_lines || rc=${PIPESTATUS[0]}
echo "   exit code $rc after $((($(date +%s%N) - start) / 1000000)) ms"

heading "What TxlApply wrote to the modem (the NVM writes in the trace, decoded)"
echo "   In order: body-SAR on, mode 1; the clear (both flags and both tables back to defaults);"
echo "   mode 1 again; then one table write per row (the bridge reads the table, changes the row's"
echo "   bands and writes it back whole)."
nvm_writes 1

heading "The tables after, each changed band with its value before"
[ "$verbose" = 1 ] && "$bin/txlsim" show
table_rows >"$machine/tables-after.txt"
changed_rows "$machine/tables-before.txt" "$machine/tables-after.txt"

heading "TxlApply 1 again: every check row is in place"
before=$(($(wc -l <"$trace") + 1))
rc=0
"$bin/TxlApply" 1 | bridge_lines || rc=${PIPESTATUS[0]}
echo "   exit code $rc; the NVM writes of this run:"
nvm_writes "$before"
long=$(nvm_writes "$before" | grep -vc 'flag byte' || true)
echo "   $long write(s) longer than a flag byte: no clear, no table written, no wait."

heading "The back-off state the operating system sees (MS SAR service, read from the modem)"
"$bin/txlctl" "${txlctl_flags[@]}" sar | sed 's/^/   /'

if [ -x "$bin/TXLGuard" ] && [ -x "$bin/txlsim" ]; then
  heading "The service: TXLGuard installed from a folder of its own, started and stopped through"
  echo "   the notebook's control manager (txlsim service), with a stand-in utility beside it"
  app="$machine/Program Files/TXL"
  mkdir -p "$app"
  cp "$bin/TXLGuard" "$app/"
  printf '#!/bin/sh\necho "Tixel Utility ran in $(pwd)" > "%s/utility.txt"\n' "$machine" >"$app/Tixel Utility.exe"
  chmod +x "$app/Tixel Utility.exe"
  # Each command with the line that answers it (all of its lines with --verbose).
  svc() {
    echo "   \$ ${*/#$machine/\$TXL_MACHINE_DIR}"
    if [ "$verbose" = 1 ]; then "$@" 2>&1 | sed 's/^/     /'; else "$@" 2>&1 | grep -E "$pattern" | sed 's/^ */     /'; fi
  }
  pattern='is installed|is removed|STATE'
  svc "$app/TXLGuard" -install
  svc "$bin/txlsim" service start TXLGuard
  echo "   the version values it wrote:"
  tr -d '\r' <"$machine/registry.reg" | sed -n '/^\[HKEY_LOCAL_MACHINE\\SOFTWARE\\TXL\]/,/^$/p' | grep Version | sed 's/^/     /'
  for _ in $(seq 100); do [ -s "$machine/utility.txt" ] && break; sleep 0.05; done
  echo "   the utility: $(cat "$machine/utility.txt" 2>/dev/null || echo 'did not run')"
  svc "$bin/txlsim" service stop TXLGuard
  echo "   its states: $("$bin/txlsim" service history TXLGuard | awk '{ printf "%s%s", sep, $1; sep = " -> " }')"
  svc "$app/TXLGuard" -remove
  if [ "$verbose" = 1 ]; then
    echo "   the debugger output ($machine/debug-output.log):"
    sed 's/^/     /' "$machine/debug-output.log"
  fi
fi
echo
echo "== more: txlctl --help (build/default/bin/txlctl) reads and sets everything shown here;"
echo "   bash scripts/test.sh runs every test."
