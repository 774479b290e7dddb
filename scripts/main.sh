#!/usr/bin/env bash
# The main job on a fresh simulated notebook: builds what is missing, walks one connection through
# the bridge's session API, sends AT-style commands through its entry point, and shows what
# reached the modem.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target VexelSarDll bridge_walk >/dev/null

machine=$(mktemp -d "${TMPDIR:-/tmp}/txl-machine.XXXXXX")
echo "== simulated notebook: $machine (TXL_MACHINE_DIR)"
TXL_MACHINE_DIR=$machine TXL_SIM_TRACE=1 build/default/bin/bridge_walk
echo
echo "== AT-style commands through AtSendInterface"
TXL_MACHINE_DIR=$machine TXL_SIM_TRACE=1 build/default/bin/bridge_walk --at \
  'AT\r\n' 'AT+BODYSAREN?\r\n' 'AT+BODYSAREN = 1\r\n' 'AT+BODYSAREN?\r\n' 'AT+BODYSARON = 1\r\n' \
  'AT+BODYSARPROFILE?\r\n' 'AT+BODYSAR?\r\n' 'AT+CGSN\r\n' | grep '^== '
echo
echo "== what the modem received ($machine/modem/trace.jsonl)"
cat "$machine/modem/trace.jsonl"
echo
echo "== the bridge's log of this run"
ls -1t build/default/bin/Dll_log/ | head -1 | sed 's|^|build/default/bin/Dll_log/|'
