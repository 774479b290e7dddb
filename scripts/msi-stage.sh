#!/usr/bin/env bash
# The Windows Installer packages as administrators use them, under Wine, each architecture in a
# fresh prefix:
#
#   bash scripts/msi-stage.sh [x86] [x64]        (both by default)
#
# Builds the packages of the suite's version and of the next version (the same binaries under a
# higher version), then: silent install; the files in the system folder (SysWOW64 for x86) and the
# service registration; TxlApply.exe 1 and txlctl.exe from the installed folder on the simulated
# notebook; the service started and stopped with sc; a repair (the same package again puts back a
# deleted file); the upgrade to the next version (one uninstall entry, the service pointing at the
# new binaries, the older product gone); the older package refused; the uninstall leaving nothing
# of the package; and a failed installation leaving nothing either.
#
# Without 32-bit Wine the x86 package is still installed, upgraded and removed (Windows Installer
# is a 64-bit program there), but its programs cannot run: those steps say SKIPPED.
set -euo pipefail
cd "$(dirname "$0")/.."
archs=("$@")
[ ${#archs[@]} -gt 0 ] || archs=(x86 x64)
work=$(realpath -m build/msi-stage)
packages=$work/packages

echo "== the packages: the suite's version and the next"
rm -rf "$packages"
bash scripts/package-windows.sh --out "$packages" | grep '\.msi:'
version=$(cat build/windows/package-version)
IFS=. read -r major minor patch <<<"$version"
next=$major.$minor.$((patch + 1))
bash scripts/package-windows.sh --version "$next" --out "$packages" | grep '\.msi:'

source scripts/wine-prefix.sh
export RUN_LIMIT=180
overall=0
name="TXL body-SAR suite"
suite_files=(VexelSarDll.dll krillTXLApi.dll TxlApply.exe txlctl.exe TXLGuard.exe)
winpath() { local p=${1//\//\\}; echo "Z:$p"; }  # a host path as the prefix's drive Z: shows it
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }'; }

# msiexec with a verbose log kept in the stage's logs; prints its exit code. On Windows a refused or
# failed installation exits 1603 or 1627; a shell sees the low byte (67, 91).
msi() {  # log name, msiexec arguments...
  local log=$1
  shift
  mkdir -p "$drive_c/msi-logs"
  local rc
  rc=$(run "msiexec-$log" msiexec "$@" /qn /l*v "C:\\msi-logs\\$log.log")
  [ -f "$drive_c/msi-logs/$log.log" ] && tr -d '\r' <"$drive_c/msi-logs/$log.log" >"$stage/logs/installer-$log.log"
  echo "$rc"
}
show_installer_log() { [ -f "$stage/logs/installer-$1.log" ] && show_log "installer-$1" 40 || show_log "msiexec-$1"; }

reg_values() {  # key, view...: "name=data" lines
  wine_do reg query "$@" 2>/dev/null </dev/null | tr -d '\r' |
    awk 'NF >= 2 && $2 ~ /^REG_/ { name = $1; $1 = ""; $2 = ""; sub(/^  */, ""); print name "=" $0 }' || true
}
# The products under the uninstall list that carry the suite's name, as "code version" lines.
suite_entries() {
  local key code
  wine_do reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' "${regview[@]}" 2>/dev/null </dev/null |
    tr -d '\r' | { grep -i '\\Uninstall\\{' || true; } | while read -r key; do
      code=${key##*\\}
      if reg_values "$key" "${regview[@]}" | grep -qx "DisplayName=$name"; then
        echo "$code $(reg_values "$key" "${regview[@]}" | sed -n 's/^DisplayVersion=//p')"
      fi
    done
}
service_state() { wine_do sc query TXLGuard 2>/dev/null </dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }' || true; }
wait_state() {  # state: polls for it, at most 30 s
  local _
  for _ in $(seq 300); do [ "$(service_state)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}
files_present() { local f n=0; for f in "${suite_files[@]}"; do [ -f "$sysdir/$f" ] && n=$((n + 1)); done; echo "$n"; }

# Everything an installed version must show: its files, the service as TXLGuard.exe -install would
# register it (Windows Installer records the image path), and one entry under the uninstall list.
check_installed() {  # version, product code, what was done
  local v=$1 code=$2 what=$3 n entries values want
  n=$(files_present)
  if [ "$n" = ${#suite_files[@]} ]; then ok "$what: the ${#suite_files[@]} files in $sysdir_win"
  else bad "$what: $n of ${#suite_files[@]} files in $sysdir_win"; fi
  values=$(reg_values 'HKLM\System\CurrentControlSet\Services\TXLGuard' | grep -E '^(DisplayName|ErrorControl|ImagePath|ObjectName|Start|Type)=' |
    LC_ALL=C sort | paste -sd'|' -)
  want="DisplayName=TXL Service|ErrorControl=0x1|ImagePath=$sysdir_win\\TXLGuard.exe|ObjectName=LocalSystem|Start=0x3|Type=0x10"
  if [ "${values,,}" = "${want,,}" ]; then ok "$what: service TXLGuard registered (own process, on demand, normal errors, LocalSystem, $sysdir_win\\TXLGuard.exe)"
  else bad "$what: service registration '$values', expected '$want'"; fi
  entries=$(suite_entries)
  if [ "$entries" = "$code $v" ]; then ok "$what: one uninstall entry, $code $v"
  else bad "$what: uninstall entries '$(echo "$entries" | paste -sd';' -)', expected '$code $v'"; fi
}
check_gone() {  # what was done
  local n entries
  n=$(files_present)
  entries=$(suite_entries)
  if [ "$n" = 0 ] && [ -z "$entries" ] && [ -z "$(reg_values 'HKLM\System\CurrentControlSet\Services\TXLGuard')" ]; then
    ok "$1: no file, no service, no uninstall entry of the suite"
  else bad "$1: $n files, service '$(service_state)', entries '$(echo "$entries" | paste -sd';' -)'"; fi
}

stage_arch() {  # x86 | x64
  local arch=$1 can_run=1 rc first second failing code1 code2 writes
  fail=0
  wine_prefix_start "$arch" "$work/$arch"
  if [ "$arch" = x86 ]; then
    sysdir=$drive_c/windows/syswow64 sysdir_win='C:\windows\syswow64'
    wine32_present || can_run=0
  else
    sysdir=$drive_c/windows/system32 sysdir_win='C:\windows\system32'
  fi
  first=$packages/txl-$version-$arch.msi second=$packages/txl-$next-$arch.msi
  code1=$(product_code "$first") code2=$(product_code "$second")
  skip() { echo "SKIPPED: $* (no 32-bit Wine to run the x86 programs: $(wine32_absence))"; }

  rc=$(msi install /i "$(winpath "$first")")
  if [ "$rc" = 0 ]; then ok "msiexec /i txl-$version-$arch.msi /qn: exit 0"; else bad "msiexec /i: exit $rc"; show_installer_log install; fi
  check_installed "$version" "$code1" "installed $version"

  mkdir -p "$drive_c/txl-machine"
  export TXL_MODEM=sim TXL_MACHINE_DIR='C:\txl-machine' TXL_TIME_SCALE=0.05 TXL_SIM_TRACE=1
  if [ "$can_run" = 1 ]; then
    rc=$(run txlapply-1 "$sysdir_win\\TxlApply.exe" 1)
    writes=$({ grep '"op":"set"' "$drive_c/txl-machine/modem/trace.jsonl" 2>/dev/null || true; } | grep -ci 'e10ff51b-ac2d-4104-86f6-8d621b430189' || true)
    if [ "$rc" = 0 ] && [ "$writes" -ge 4 ]; then ok "$sysdir_win\\TxlApply.exe 1 (TXL_MODEM=sim): exit 0, $writes NVM writes"
    else bad "$sysdir_win\\TxlApply.exe 1: exit $rc, $writes NVM writes"; show_log txlapply-1; fi
    rc=$(run txlctl-status "$sysdir_win\\txlctl.exe" status)
    if [ "$rc" = 0 ] && grep -q '^ready: yes' "$stage/logs/txlctl-status.log"; then ok "$sysdir_win\\txlctl.exe status: ready"
    else bad "txlctl.exe status: exit $rc"; show_log txlctl-status; fi
    rc=$(run service-start sc start TXLGuard)
    if [ "$rc" = 0 ] && wait_state RUNNING; then ok "sc start TXLGuard: running"
    else bad "sc start TXLGuard: exit $rc, state '$(service_state)'"; show_log service-start; fi
    rc=$(run service-stop sc stop TXLGuard)
    if wait_state STOPPED; then ok "sc stop TXLGuard: stopped"
    else bad "sc stop TXLGuard: exit $rc, state '$(service_state)'"; show_log service-stop; fi
  else
    skip "TxlApply.exe 1, txlctl.exe status, sc start and stop"
  fi

  rm -f "$sysdir/txlctl.exe"
  rc=$(msi repair /i "$(winpath "$first")")
  if [ "$rc" = 0 ] && [ -f "$sysdir/txlctl.exe" ]; then ok "the same package again (a deleted txlctl.exe): exit 0, repaired"
  else bad "the same package again: exit $rc, txlctl.exe $([ -f "$sysdir/txlctl.exe" ] && echo back || echo missing)"; show_installer_log repair; fi
  check_installed "$version" "$code1" "repaired"

  # The upgrade meets a running service when the programs can run: it must stop it first.
  if [ "$can_run" = 1 ]; then run service-start-2 sc start TXLGuard >/dev/null; wait_state RUNNING || true; fi
  rc=$(msi upgrade /i "$(winpath "$second")")
  if [ "$rc" = 0 ]; then ok "msiexec /i txl-$next-$arch.msi (upgrade$([ "$can_run" = 1 ] && echo ', service running')): exit 0"
  else bad "upgrade: exit $rc"; show_installer_log upgrade; fi
  check_installed "$next" "$code2" "upgraded to $next"

  rc=$(msi downgrade /i "$(winpath "$first")")
  if [ "$rc" != 0 ]; then ok "msiexec /i txl-$version-$arch.msi over $next: refused (exit $rc)"
  else bad "the older package installed over the newer one (exit 0)"; fi
  check_installed "$next" "$code2" "after the refused downgrade"

  if [ "$can_run" = 1 ]; then run service-start-3 sc start TXLGuard >/dev/null; wait_state RUNNING || true; fi
  rc=$(msi uninstall /x "$(winpath "$second")")
  if [ "$rc" = 0 ]; then ok "msiexec /x txl-$next-$arch.msi /qn$([ "$can_run" = 1 ] && echo ' (service running)'): exit 0"
  else bad "uninstall: exit $rc"; show_installer_log uninstall; fi
  check_gone "uninstalled"
  # reg query exits 1 for a key that is not there; a query cut off by its time limit proves nothing.
  rc=0
  wine_do reg query 'HKLM\SOFTWARE\TXL' "${regview[@]}" >/dev/null 2>&1 </dev/null || rc=$?
  if [ "$rc" = 1 ]; then ok "HKLM\\SOFTWARE\\TXL gone (the service deletes it when it stops)"
  elif [ "$rc" = 0 ]; then bad "HKLM\\SOFTWARE\\TXL left behind"
  else bad "reg query HKLM\\SOFTWARE\\TXL: exit $rc"; fi
  if [ -d "$sysdir/Dll_log" ]; then ok "kept for support: the bridge's logs in $sysdir_win\\Dll_log"; fi

  # A failure late in the installation (after the files and the service are in place) must leave
  # the machine as it was: a step that fails is added to a copy of the package.
  failing=$stage/txl-$next-$arch-failing.msi
  cp "$second" "$failing"
  msibuild "$failing" \
    -q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('FailOnPurpose', 1058, '$([ "$arch" = x64 ] && echo System64Folder || echo SystemFolder)', 'cmd.exe /c exit 3')" \
    -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('FailOnPurpose', 'NOT REMOVE', 5850)"
  rc=$(msi failing /i "$(winpath "$failing")")
  if [ "$rc" != 0 ]; then ok "an installation that fails after its files and service: exit $rc"
  else bad "the failing installation reported success"; fi
  check_gone "after the failed installation"

  "$wineserver" -k >/dev/null 2>&1 || true
  cut_off_check
  if [ "$fail" = 0 ]; then echo "msi stage $arch passed"; else echo "msi stage $arch FAILED (logs in $stage/logs)"; overall=1; fi
}

for arch in "${archs[@]}"; do
  case "$arch" in x86|x64) ;; *) echo "usage: bash scripts/msi-stage.sh [x86] [x64]" >&2; exit 64 ;; esac
  echo
  stage_arch "$arch"
done
exit $overall
