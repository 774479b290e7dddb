#!/usr/bin/env bash
# The simulated notebook's MBIM device node against the public MBIM client, mbimcli (Debian's
# libmbim-utils): `txlsim mbim` is started on a fresh notebook and every query and set the suite's
# MS SAR and readiness paths use must answer and parse, one host after another, also after a host
# that vanished without closing, through a fixed link and through libmbim's proxy. Then the suite
# itself reaches it through TXL_MODEM=os and must do what it does in-process. The server ends when
# its standard input closes.
#
#   bash scripts/mbim-check.sh [build folder, default build/default]
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath -m "${1:-build/default}/bin")
[ -x "$bin/txlsim" ] || { echo "FAIL: $bin/txlsim is missing: build the preset first"; exit 1; }
command -v mbimcli >/dev/null || bash scripts/setup.sh --native

memory=/dev/shm
[ -d "$memory" ] && [ -w "$memory" ] || memory=${TMPDIR:-/tmp}
work=$(mktemp -d "$memory/txl-mbim.XXXXXX")
host=$work/host
mkdir -p "$host"
cp -p "$bin"/TxlApply "$bin"/txlctl "$bin"/bridge_walk "$bin"/*.so* "$host/"
export TXL_MACHINE_DIR=$work/notebook TXL_SIM_TRACE=1 TXL_TIME_SCALE=0.01
mkdir -p "$TXL_MACHINE_DIR"
link=$work/wwan0mbim0
fail=0
ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; fail=1; }

# The server's standard input is a pipe this script holds: closing it ends the server.
mkfifo "$work/stdin"
"$bin/txlsim" mbim --link "$link" <"$work/stdin" >"$work/server.out" 2>"$work/server.err" &
server=$!
exec 7>"$work/stdin"
cleanup() {
  exec 7>&- 2>/dev/null || true
  kill "$server" 2>/dev/null || true
  pkill -f "mbim-proxy" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$work/server.out" ] && break; sleep 0.1; done
dev=$(head -1 "$work/server.out")
if [ -c "$dev" ] && [ "$(readlink "$link")" = "$dev" ]; then ok "txlsim mbim: device $dev, linked from $link"
else bad "txlsim mbim printed '$dev'"; cat "$work/server.err"; exit 1; fi

n=0
ask() {  # expected pattern, mbimcli arguments...
  local want=$1 out
  shift
  n=$((n + 1))
  out=$(timeout 30 mbimcli "$@" 2>&1) || true
  if grep -qE -- "$want" <<<"$out"; then ok "mbimcli $*: $(grep -oE -- "$want" <<<"$out" | head -1)"
  else bad "mbimcli $*: expected /$want/"; sed 's/^/    | /' <<<"$out" | head -20; fi
}
ask "Hardware info: 'Osprey LTE Module'" -d "$dev" --query-device-caps
ask "Services: \(5\)" -d "$dev" --query-device-services
ask "ms-sar" -d "$dev" --query-device-services
ask "Ready state: 'initialized'" -d "$dev" --query-subscriber-ready-status
ask "Config states: 1" -d "$dev" --ms-query-sar-config
ask "Backoff state: disabled" -d "$dev" "--ms-set-sar-config=device,disabled,[{0,0}]"
ask "Mode: device" -d "$dev" --ms-query-sar-config
ask "Backoff index: 0" -d "$dev" --ms-query-sar-config
ask "hysteresis timer: \(3\)" -d "$dev" "--ms-set-transmission-status=enabled,3"
ask "notification: enabled" -d "$dev" --ms-query-transmission-status
# A host that leaves without closing; the next one opens afresh.
timeout 30 mbimcli -d "$dev" --query-device-caps --no-close >/dev/null 2>&1 || true
ask "Hardware info: 'Osprey LTE Module'" -d "$dev" --query-device-caps
ask "Hardware info: 'Osprey LTE Module'" -d "$link" --query-device-caps

# The suite itself through TXL_MODEM=os: the Linux mobile-broadband classes over libmbim reach the
# device, and the main job writes the same tables as on a notebook whose modem is in the process.
# Directly first: once libmbim's proxy holds the device, only its clients may use it (two readers of
# one device would split its answers), as with ModemManager on a real one.
# The suite's programs run from a folder in memory, as the process tests' do: the bridge keeps its
# log beside its host and syncs every line, and what this check compares must not wait on a disk
# that other work keeps busy. The time scale shortens the suite's own pauses only; its waits for a
# completion through libmbim, the pseudo-terminal and the server keep what a busy machine needs.
suite() {  # the suite's own notebook folder, program, arguments...
  local own=$1
  shift
  mkdir -p "$own"
  TXL_MODEM=os TXL_MBIM_DEVICE=$dev TXL_MACHINE_DIR=$own timeout 120 "$host/$@" 2>>"$work/suite.err"
}
rm -rf "$TXL_MACHINE_DIR/modem/nvm"
mkdir -p "$work/in-process"
if TXL_MBIM_PROXY=0 suite "$work/os-main" TxlApply 1 >/dev/null &&
   TXL_MACHINE_DIR=$work/in-process timeout 120 "$host/TxlApply" 1 >/dev/null 2>&1 &&
   diff -r "$TXL_MACHINE_DIR/modem/nvm" "$work/in-process/modem/nvm" >/dev/null; then
  ok "TxlApply 1 with TXL_MODEM=os (TXL_MBIM_PROXY=0): the modem's NVM equals the in-process run's"
else bad "TxlApply 1 with TXL_MODEM=os: exit or NVM differs from the in-process run"; fi
if TXL_MBIM_PROXY=0 suite "$work/os-main" txlctl --json sar | grep -q '"states":\[{"antenna":0,"backoff_index":1}\]'; then
  ok "txlctl --json sar with TXL_MODEM=os: antenna 0 at back-off index 1 after TxlApply 1"
else bad "txlctl --json sar with TXL_MODEM=os"; fi
# The control library's set commands and the bridge's session API: each answers through libmbim as
# it does in-process.
same() {  # what, program and arguments...
  local what=$1 os in
  shift
  os=$(TXL_MBIM_PROXY=0 suite "$work/os-main" "$@") || true
  in=$(TXL_MACHINE_DIR=$work/in-process timeout 120 "$host/$@" 2>/dev/null) || true
  if grep -q '"code":0' <<<"$os" && [ "$os" = "$in" ]; then ok "$what with TXL_MODEM=os: succeeded, as in-process"
  else bad "$what with TXL_MODEM=os: '$os', in-process '$in'"; fi
}
same "txlctl table set 4g" txlctl --json table set 4g b1=20.0 b3=18.5
same "txlctl table get" txlctl --json table get
same "txlctl sar set" txlctl --json sar set --mode host --backoff on --antenna 0 --index 2
same "txlctl sar tx set" txlctl --json sar tx set --notify on --hysteresis 4
walked=$(TXL_MBIM_PROXY=0 suite "$work/os-main" bridge_walk | grep -cE '^== (EnumInterface|ConnectInterface|OpenCommandSession\(NVM\)|QueryCommand\(.*\)|SetCommand\(.*\)) -> 0x00000000|^== CloseCommandSession\(NVM\) -> [1-9]|^== DisconnectInterface -> 0[[:space:]]*$' || true)
if [ "$walked" = 7 ]; then ok "bridge_walk with TXL_MODEM=os: the session API's seven calls, its query and set among them, succeeded"
else bad "bridge_walk with TXL_MODEM=os: $walked of 7 session calls succeeded"; fi
if suite "$work/os-main" txlctl status | grep -q '^ready: yes'; then
  ok "txlctl status with TXL_MODEM=os through libmbim's proxy (the default): ready"
else bad "txlctl status with TXL_MODEM=os through the proxy"; fi
ask "Config states: 1" -p -d "$dev" --ms-query-sar-config

# The modem itself changed: the set reached the simulated modem's MS SAR state and its trace.
sets=$(grep -c '"op":"set".*68223D04-9F6C-4E0F-822D-28441FB72340' "$TXL_MACHINE_DIR/modem/trace.jsonl" || true)
if [ "$sets" -ge 4 ]; then ok "the modem's trace holds the $sets MS SAR sets"
else bad "the modem's trace holds $sets MS SAR sets"; fi

exec 7>&-
for _ in $(seq 100); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$server" 2>/dev/null; then bad "txlsim mbim still runs after its standard input closed"
elif [ -e "$link" ]; then bad "the link $link outlived the server"
else ok "txlsim mbim ended when its standard input closed, and removed its link"; fi

[ "$fail" = 0 ] || { echo "the suite's standard error:"; sed "s/^/    | /" "$work/suite.err" 2>/dev/null | tail -20; }
if [ "$fail" = 0 ]; then echo "mbim check passed ($n mbimcli hosts)"; else echo "mbim check FAILED"; fi
exit $fail
