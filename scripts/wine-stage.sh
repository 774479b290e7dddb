#!/usr/bin/env bash
# The Windows build on a real implementation of the Win32 API: Wine, in a fresh prefix, headless.
#
#   bash scripts/wine-stage.sh [build folder of a Windows build, default build/windows]
#
# Runs the Windows unit tests (the win32 backends against the system), then the installed suite on
# the simulated modem (TXL_MODEM=sim) and on the operating system's mobile-broadband stack, which
# Wine does not have (TXL_MODEM=os): there every road must fail cleanly with the documented codes.
# Either architecture: the x64 folder is installed in C:\Program Files\TXL; the x86 folder where the
# notebook has it, C:\Windows\SysWOW64 of a 64-bit prefix, and its registry values are read in the
# 32-bit view (/reg:32, SOFTWARE\WOW6432Node), so that no check passes by looking in the wrong one.
#
# Nothing here waits for a fixed time: every program runs under a time limit, and whatever a step
# waits for is polled with a bound.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/windows}
bin=$(realpath -m "$build/bin")
[ -f "$bin/VexelSarDll.dll" ] || { echo "FAIL: $bin/VexelSarDll.dll is missing: build the Windows preset first"; exit 1; }
if x86_64-w64-mingw32-objdump -f "$bin/VexelSarDll.dll" | grep -q 'pei-i386'; then arch=x86; else arch=x64; fi

source scripts/wine-prefix.sh
if [ "$arch" = x86 ] && ! wine32_present; then
  echo "FAIL: the x86 folder needs 32-bit Wine (wine32:i386; bash scripts/setup.sh installs it): $(wine32_absence)"; exit 1
fi
echo "== $arch folder $bin"
wine_prefix_start "$arch" "$build/wine"
# The simulated notebook is a folder of the prefix: C:\txl-machine.
mkdir -p "$drive_c/txl-machine"
# Waits run at a twentieth: the bridge's 5 s completion wait is 250 ms. At a hundredth (50 ms) a
# program's first exchanges in a fresh prefix, while Wine still loads and maps, could outlast it.
export TXL_MACHINE_DIR='C:\txl-machine' TXL_TIME_SCALE=0.05

echo
echo "== Windows unit tests"
# Left out under Wine:
#  - KnownFolders.CommonAppDataIsTheNotebooksProgramData...: the notebook folder of the POSIX
#    backend; Windows has the system's own common application-data folder (C:\ProgramData).
#  - ProfileTest.IntegerFallsBack...: Wine gives the fallback for a key with an empty value where
#    Windows gives 0.
skip='-KnownFolders.CommonAppDataIsTheNotebooksProgramDataMadeOnFirstUse:ProfileTest.IntegerFallsBackOnlyWhenFileSectionOrKeyIsMissing'
for t in platform_tests win_tests; do
  [ -f "$bin/$t.exe" ] || { bad "$t.exe is missing from $bin: build the preset with its tests"; continue; }
  filter=()
  [ "$t" = platform_tests ] && filter=(--gtest_filter="$skip")
  # The tests are told when their programs run through a CPU emulator: a processor fault can reach
  # the system there as another exception than the hardware's.
  rc=$(TXL_MODEM=sim TXL_TEST_CPU_EMULATOR=$cpu_emulator run "$t" "$bin/$t.exe" "${filter[@]}")
  summary=$(grep -E '^\[  (PASSED|FAILED) +\]|^\[==========\] [0-9]+ tests? from' "$stage/logs/$t.log" | tr -s ' ' | paste -sd' ' -)
  if [ "$rc" = 0 ] && grep -q '^\[  PASSED  \]' "$stage/logs/$t.log"; then ok "$t.exe: $summary"; else bad "$t.exe exited $rc"; show_log "$t" 60; fi
  { grep '^note: ' "$stage/logs/$t.log" || true; } | sed 's/^/    /'  # what a test could not show here
done

if [ "$arch" = x86 ]; then
  app="$drive_c/windows/syswow64" app_win='C:\windows\syswow64'
else
  app="$drive_c/Program Files/TXL" app_win='C:\Program Files\TXL'
fi
echo
echo "== the suite installed in $app_win"
mkdir -p "$app"
for f in VexelSarDll.dll krillTXLApi.dll TxlApply.exe txlctl.exe bridge_walk.exe; do
  cp "$bin/$f" "$app/"
done
cd "$app"  # Wine starts programs named by a host path; the folder is theirs either way
trace=$drive_c/txl-machine/modem/trace.jsonl

# NVM writes of the body-SAR item longer than a flag byte (power tables, the clear) from trace line $1 on.
table_writes() {
  { tail -n +"$1" "$trace" 2>/dev/null || true; } | { grep '"op":"set"' || true; } |
    { grep -i 'e10ff51b-ac2d-4104-86f6-8d621b430189' || true; } | sed 's/.*"data":"\([0-9A-F]*\)".*/\1/' |
    awk '{ if (substr($0, 17, 8) != "01000000") n++ } END { print n + 0 }'
}
body_sar_on() {  # the value the bridge keeps, as Wine's own registry tool reads it
  wine_do reg query 'HKLM\SOFTWARE\OEM\Corvid\SAR' /v Body_Sar_ON "${regview[@]}" 2>/dev/null </dev/null |
    tr -d '\r' | awk '$1 == "Body_Sar_ON" { print $3 }'
}

# The main job on the notebook folder $1 (a folder of C:\), its logs named with prefix $2.
main_job() {
  local machine=$1 p=$2 rc writes from value
  export TXL_MACHINE_DIR="C:\\$machine"
  mkdir -p "$drive_c/$machine"
  trace=$drive_c/$machine/modem/trace.jsonl
  rc=$(run "${p}txlapply-1" ./TxlApply.exe 1)
  writes=$(table_writes 1)
  if [ "$rc" = 0 ] && [ "$writes" -ge 4 ]; then ok "TxlApply.exe 1: exit 0, $writes table writes (clear and four rows)"
  else bad "TxlApply.exe 1: exit $rc, $writes table writes"; show_log "${p}txlapply-1"; fi

  from=$(($(wc -l <"$trace" 2>/dev/null || echo 0) + 1))
  rc=$(run "${p}txlapply-1-again" ./TxlApply.exe 1)
  writes=$(table_writes "$from")
  if [ "$rc" = 0 ] && [ "$writes" = 0 ]; then ok "TxlApply.exe 1 again: exit 0, every check row in place, no table written"
  else bad "TxlApply.exe 1 again: exit $rc, $writes table writes"; show_log "${p}txlapply-1-again"; fi

  rc=$(run "${p}txlctl-status" ./txlctl.exe status)
  if [ "$rc" = 0 ] && grep -q '^ready: yes' "$stage/logs/${p}txlctl-status.log"; then ok "txlctl.exe status: exit 0, ready"
  else bad "txlctl.exe status: exit $rc"; show_log "${p}txlctl-status"; fi

  for arg in 3:0x1 4:0x0; do
    rc=$(run "${p}txlapply-${arg%%:*}" ./TxlApply.exe "${arg%%:*}")
    value=$(body_sar_on)
    if [ "$rc" = 0 ] && [ "$value" = "${arg#*:}" ]; then ok "TxlApply.exe ${arg%%:*}: exit 0, reg query Body_Sar_ON = $value"
    else bad "TxlApply.exe ${arg%%:*}: exit $rc, Body_Sar_ON '${value}' (expected ${arg#*:})"; show_log "${p}txlapply-${arg%%:*}"; fi
  done

  # Back-off off (TxlApply 4) as the modem's MS SAR service holds it, through the session API.
  rc=$(run "${p}txlctl-sar" ./txlctl.exe --json sar)
  if [ "$rc" = 0 ] && grep -q '"states":\[{"antenna":0,"backoff_index":0}\]' "$stage/logs/${p}txlctl-sar.log"; then
    ok "txlctl.exe --json sar: antenna 0 at back-off index 0, read from the modem"
  else bad "txlctl.exe --json sar: exit $rc"; show_log "${p}txlctl-sar"; fi
}

echo "-- TXL_MODEM=sim (the simulated modem in the programs' own process, notebook in C:\\txl-machine)"
export TXL_MODEM=sim TXL_SIM_TRACE=1
main_job txl-machine ""
# What the modem saw and holds after the main job, for the run through the system's COM below.
sim_trace_copy=$stage/sim-trace.jsonl sim_modem_copy=$stage/sim-modem
cp "$trace" "$sim_trace_copy"
rm -rf "$sim_modem_copy" && cp -r "$drive_c/txl-machine/modem" "$sim_modem_copy"

# The session API bound by the names a Microsoft-compiled caller imports, all seven functions.
rc=$(run session-walk ./bridge_walk.exe)
walked=$(grep -cE '^== (EnumInterface|ConnectInterface|OpenCommandSession\(NVM\)|QueryCommand\(.*\)|SetCommand\(.*\)) -> 0x00000000|^== CloseCommandSession\(NVM\) -> [1-9]|^== DisconnectInterface -> 0[[:space:]]*$' \
  "$stage/logs/session-walk.log" || true)
if [ "$rc" = 0 ] && [ "$walked" = 7 ]; then ok "bridge_walk.exe: the seven session functions bound by their decorated names, each succeeded"
else bad "bridge_walk.exe: exit $rc, $walked of 7 session calls succeeded"; show_log session-walk; fi

echo "-- TXL_MODEM=os over the simulated modem registered as the system's mobile-broadband classes"
# txlsim_com.dll serves the four classes in-process; the modem is listed among the present devices
# as on a notebook. The suite then goes through the system's CoCreateInstance, connection points,
# SAFEARRAYs and BSTRs; the modem must see exactly what it saw with TXL_MODEM=sim.
clsids=('{BDFEE05B-4418-11DD-90ED-001C257CCFF1}' '{BDFEE05C-4418-11DD-90ED-001C257CCFF1}'
        '{BDFEE05A-4418-11DD-90ED-001C257CCFF1}' '{2269DAA3-2A9F-4165-A501-CE00A6F7A75B}')
device='HKLM\System\CurrentControlSet\Enum\PCI\VEN_1D5A&DEV_5140&SUBSYS_51401D5A&REV_00\4&2A6C3F18&0&00E8'
com_registry() {  # add | delete
  local clsid key rc=0
  for clsid in "${clsids[@]}"; do
    key="HKLM\SOFTWARE\Classes\CLSID\\$clsid"
    if [ "$1" = add ]; then
      wine_do reg add "$key\InprocServer32" /ve /d "$app_win\txlsim_com.dll" /f "${regview[@]}" >/dev/null 2>&1 </dev/null || rc=1
      wine_do reg add "$key\InprocServer32" /v ThreadingModel /d Both /f "${regview[@]}" >/dev/null 2>&1 </dev/null || rc=1
    else
      wine_do reg delete "$key" /f "${regview[@]}" >/dev/null 2>&1 </dev/null || rc=1
    fi
  done
  if [ "$1" = add ]; then
    wine_do reg add "$device" /v DeviceDesc /d "Osprey LTE Module" /f >/dev/null 2>&1 </dev/null || rc=1
    wine_do reg add "$device" /v ClassGUID /d '{4d36e96d-e325-11ce-bfc1-08002be10318}' /f >/dev/null 2>&1 </dev/null || rc=1
  else
    wine_do reg delete "$device" /f >/dev/null 2>&1 </dev/null || rc=1
  fi
  return $rc
}
if [ ! -f "$bin/txlsim_com.dll" ]; then
  bad "txlsim_com.dll is missing from $bin: the system's COM runtime cannot be tried"
elif ! cp "$bin/txlsim_com.dll" "$app/" || ! com_registry add; then
  bad "the COM stand-in could not be registered"
else
  ok "txlsim_com.dll registered for the four mobile-broadband classes (${regview[*]}), the modem listed as a present device"
  export TXL_MODEM=os TXL_SIM_TRACE=1
  # The registry as the first run found it: the bridge keeps the back-off index there.
  wine_do reg delete 'HKLM\SOFTWARE\OEM\Corvid\SAR' /f "${regview[@]}" >/dev/null 2>&1 </dev/null || true
  main_job txl-machine-os os-com-
  if cmp -s "$sim_trace_copy" "$drive_c/txl-machine-os/modem/trace.jsonl" &&
     diff -r "$sim_modem_copy/nvm" "$drive_c/txl-machine-os/modem/nvm" >/dev/null; then
    ok "the modem saw the same $(wc -l <"$sim_trace_copy") requests and holds the same NVM as with TXL_MODEM=sim"
  else
    bad "TXL_MODEM=os over the COM stand-in differs from TXL_MODEM=sim (trace or NVM)"
    diff "$sim_trace_copy" "$drive_c/txl-machine-os/modem/trace.jsonl" | head -10 | sed 's/^/    | /'
  fi
  com_registry delete || bad "the COM stand-in could not be unregistered"
fi
export TXL_MACHINE_DIR='C:\txl-machine'

echo "-- TXL_MODEM=os (the system's Mobile Broadband API, which Wine does not provide)"
export TXL_MODEM=os
unset TXL_SIM_TRACE
# Without a mobile-broadband interface and without a modem among the present devices the module
# stays unidentified: every export answers 2, and TxlApply exits with the last write's 2.
rc=$(run os-txlapply-1 ./TxlApply.exe 1)
if [ "$rc" = 2 ]; then ok "TxlApply.exe 1: exit 2 (no module identified), no crash, no hang"
else bad "TxlApply.exe 1: exit $rc, expected 2"; show_log os-txlapply-1; fi

rc=$(run os-txlctl-status ./txlctl.exe status)
if grep -q '^ready: no' "$stage/logs/os-txlctl-status.log"; then ok "txlctl.exe status: get_IsMBIMReady reports 0 (exit $rc)"
else bad "txlctl.exe status: exit $rc"; show_log os-txlctl-status; fi

# The bridge cannot create the interface manager: "AT\r\n" answers E_FAIL and "ERROR".
rc=$(run os-bridge-at ./bridge_walk.exe --at 'AT\r\n')
if grep -q 'AtSendInterface("AT\\r\\n") -> -2147467259 (0x80004005), reply "ERROR"' "$stage/logs/os-bridge-at.log"; then
  ok "bridge \"AT\\r\\n\": 0x80004005, reply ERROR (bridge_walk exit $rc)"
else bad "bridge \"AT\\r\\n\": exit $rc"; show_log os-bridge-at; fi
cd - >/dev/null

echo
echo "== a serial port: COM7 of the prefix is a pseudo-terminal the stage answers on"
# The control library's serial channel (created by class id) over Wine's serial driver.
serial_exchange() {  # mode (answer|silent): prints the probe's exit code
  local ready=$stage/pty.ready rc
  rm -f "$ready"
  python3 scripts/pty-responder.py "$WINEPREFIX/dosdevices/com7" "$1" "$ready" >"$stage/logs/pty-$1.log" 2>&1 &
  local responder=$!
  for _ in $(seq 100); do [ -s "$ready" ] && break; sleep 0.1; done
  # The peer is a script: the line keeps its real 200 ms for the answer.
  rc=$(TXL_TIME_SCALE=1 run "serial-$1" "$bin/serial_probe.exe" 7)
  wait "$responder" || true
  echo "$rc"
}
if [ -f "$bin/serial_probe.exe" ]; then
  rc=$(serial_exchange answer)
  if [ "$rc" = 0 ] && grep -q '^transact 0x00000000 reply \[\\r\\nOK\\r\\n\]' "$stage/logs/serial-answer.log" &&
     grep -q 'AT\\r\\n' "$stage/logs/pty-answer.log"; then ok "COM7: \"AT\\r\\n\" sent, \"\\r\\nOK\\r\\n\" read back"
  else bad "COM7 answering: exit $rc"; show_log serial-answer; show_log pty-answer; fi
  rc=$(serial_exchange silent)
  if [ "$rc" = 1 ] && grep -q '^transact 0x80004005 reply \[\]' "$stage/logs/serial-silent.log"; then
    ok "COM7 silent: the exchange fails with 0x80004005 after its wait"
  else bad "COM7 silent: exit $rc"; show_log serial-silent; fi
  rc=$(run serial-absent "$bin/serial_probe.exe" 9)
  if [ "$rc" = 1 ] && grep -q '^open 0x80004005' "$stage/logs/serial-absent.log"; then ok "COM9 (no device): OpenPort fails"
  else bad "COM9: exit $rc"; show_log serial-absent; fi
else
  bad "serial_probe.exe is missing from $bin: the serial steps cannot run"
fi

echo
echo "== the service"
# The service installed beside the suite, started and stopped through Wine's service control
# manager. "Tixel Utility.exe" is a stand-in that leaves a marker ("<its path>.ran"); a "Tixel.exe"
# beside it and one on the PATH (C:\windows) must never run: they are what an unquoted command
# line "C:\Program Files\TXL\Tixel Utility.exe" would start instead.
if [ -f "$bin/TXLGuard.exe" ]; then
  cp "$bin/TXLGuard.exe" "$app/"
  cp "$bin/win_marker.exe" "$app/Tixel Utility.exe"
  cp "$bin/win_marker.exe" "$app/Tixel.exe"
  cp "$bin/win_marker.exe" "$drive_c/windows/Tixel.exe"
  cd "$app"
  service_state() {  # the state word of `sc query`, e.g. RUNNING
    wine_do sc query TXLGuard 2>/dev/null </dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'
  }
  wait_state() {  # state: polls for it, at most 30 s
    local _
    for _ in $(seq 300); do [ "$(service_state)" = "$1" ] && return 0; sleep 0.1; done
    return 1
  }

  rc=$(run service-install ./TXLGuard.exe -install)
  if [ "$rc" = 0 ] && [ "$(service_state)" = STOPPED ]; then ok "TXLGuard.exe -install: exit 0, registered"
  else bad "TXLGuard.exe -install: exit $rc, state '$(service_state)'"; show_log service-install; fi

  rc=$(run service-start sc start TXLGuard)
  if [ "$rc" = 0 ] && wait_state RUNNING; then ok "sc start TXLGuard: running"
  else bad "sc start TXLGuard: exit $rc, state '$(service_state)'"; show_log service-start; fi

  run service-values reg query 'HKLM\SOFTWARE\TXL' "${regview[@]}" >/dev/null
  values=$(tr -d '\r' <"$stage/logs/service-values.log" | awk 'NF >= 3 { print $1 "=" $3 }' | LC_ALL=C sort | paste -sd' ' -)
  want='ImagePath=C:\Windows\SysWOW64\TXLGuard.exe TXLGuardVersion=1.0.2.6 TixelUtilityVersion=2.0.20.216'
  if [ "$values" = "$want" ]; then ok "reg query HKLM\\SOFTWARE\\TXL: $values"
  else bad "reg query HKLM\\SOFTWARE\\TXL: '$values', expected '$want'"; show_log service-values; fi

  marker="$app/Tixel Utility.exe.ran"
  for _ in $(seq 300); do [ -s "$marker" ] && break; sleep 0.1; done
  if [ "$(tr -d '\r' <"$marker" 2>/dev/null)" = "$app_win\\Tixel Utility.exe|$app_win" ]; then
    ok "the service started \"Tixel Utility.exe\" once, in its own folder"
  else bad "\"Tixel Utility.exe\": marker '$(cat "$marker" 2>/dev/null)'"; fi

  rc=$(run service-stop sc stop TXLGuard)
  if wait_state STOPPED; then ok "sc stop TXLGuard: stopped"
  else bad "sc stop TXLGuard: exit $rc, state '$(service_state)'"; show_log service-stop; fi

  # The service object's end deletes the version key (it has no sub-keys) once the dispatcher returns.
  # reg query exits 1 for a key that is not there; a query cut off by its time limit proves nothing.
  key_gone=0
  for _ in $(seq 300); do
    rc=0
    wine_do reg query 'HKLM\SOFTWARE\TXL' "${regview[@]}" >/dev/null 2>&1 </dev/null || rc=$?
    if [ "$rc" = 1 ]; then key_gone=1; break; fi
    [ "$rc" = 0 ] || break
    sleep 0.1
  done
  if [ "$key_gone" = 1 ]; then ok "HKLM\SOFTWARE\TXL deleted after the stop"
  elif [ "$rc" != 0 ]; then bad "reg query HKLM\SOFTWARE\TXL after the stop: exit $rc"
  else bad "HKLM\SOFTWARE\TXL still there 30 s after the stop"; fi

  rc=$(run service-remove ./TXLGuard.exe -remove)
  if [ "$rc" = 0 ] && [ -z "$(service_state)" ]; then ok "TXLGuard.exe -remove: exit 0, no longer registered"
  else bad "TXLGuard.exe -remove: exit $rc, state '$(service_state)'"; show_log service-remove; fi

  if [ -e "$app/Tixel.exe.ran" ] || [ -e "$drive_c/windows/Tixel.exe.ran" ]; then bad "a Tixel.exe ran"
  else ok "no Tixel.exe ran"; fi
  cd - >/dev/null
else
  bad "TXLGuard.exe is missing from $bin: the service steps cannot run"
fi

cut_off_check
echo
if [ "$fail" = 0 ]; then echo "wine stage passed"; else echo "wine stage FAILED (logs in $stage/logs)"; fi
exit $fail
