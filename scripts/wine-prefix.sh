# Sourced by the Wine stages: a fresh, headless Wine prefix for one architecture's programs.
#
#   source scripts/wine-prefix.sh
#   wine_prefix_start x64|x86 STAGE_FOLDER     # STAGE_FOLDER/prefix, STAGE_FOLDER/logs
#
# Afterwards: $wine runs the architecture's programs, $regview (/reg:64 or /reg:32) is its registry
# view, `run LOG PROGRAM ARGS...` runs a program under a time limit and prints its exit code (output
# in logs/LOG.log), `show_log LOG [LINES]` prints a log's end, `ok`/`bad` report a check (bad sets
# fail=1). One Wine session lasts until the calling script ends.

ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; fail=1; }
fail=0

# 32-bit Wine: the loader that starts 32-bit programs in a 64-bit prefix. Installed is not enough:
# a kernel built without 32-bit support refuses to execute the loader ("Exec format error").
wine32_present() {
  local version
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" &&
    version=$(wine --version 2>&1) && ! grep -q 'wine32 is missing' <<<"$version"
}
# Why wine32_present fails, for a SKIPPED line.
wine32_absence() {
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "32-bit Wine could not be installed; see the set-up's warning"
  else
    echo "32-bit Wine is installed but this machine's kernel does not run 32-bit programs"
  fi
}

run() {  # log name, program, arguments...
  local log=$stage/logs/$1.log rc=0
  shift
  timeout "${RUN_LIMIT:-300}" "$wine" "$@" >"$log" 2>&1 </dev/null || rc=$?
  echo "$rc"
}
show_log() { sed 's/^/    | /' "$stage/logs/$1.log" | tail -n "${2:-25}"; }

wine_prefix_start() {  # arch (x64|x86), stage folder
  local arch=$1 w
  stage=$(realpath -m "$2")
  wine=""
  for w in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$w" >/dev/null 2>&1; then wine=$(command -v "$w"); break; fi
  done
  [ -n "$wine" ] || { echo "FAIL: no wine64 (bash scripts/setup.sh installs it)"; exit 1; }
  regview=(/reg:64)
  if [ "$arch" = x86 ]; then
    regview=(/reg:32)
    # 32-bit programs need the 32-bit loader; without it only what 64-bit programs do can run.
    if wine32_present; then wine=$(command -v wine); fi
  fi
  wineserver=""
  for w in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if command -v "$w" >/dev/null 2>&1; then wineserver=$(command -v "$w"); break; fi
  done

  rm -rf "$stage"
  mkdir -p "$stage/logs"
  export WINEPREFIX=$stage/prefix WINEDEBUG=-all WINEARCH=win64
  # No desktop, no Mono or Gecko installers, no crash dialog.
  unset DISPLAY WAYLAND_DISPLAY
  export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
  trap '[ -n "$wineserver" ] && "$wineserver" -k >/dev/null 2>&1 || true' EXIT

  echo "== $arch: fresh Wine prefix $WINEPREFIX ($("$wine" --version 2>/dev/null || echo wine))"
  local rc
  rc=$(run wineboot wineboot -i)
  [ "$rc" = 0 ] || { bad "wineboot -i exited $rc"; show_log wineboot; exit 1; }
  # One Wine session for the rest of the stage: a server that stays up between programs keeps the
  # service control manager alive from step to step. Otherwise the session ends whenever no program
  # runs, and a program started while the old server is still saving the registry can meet a
  # manager that has not seen the service just installed.
  if [ -n "$wineserver" ]; then
    "$wineserver" -w  # the set-up session has ended and saved the registry
    "$wineserver" -p >/dev/null 2>&1 </dev/null || { bad "wineserver -p failed"; exit 1; }
  fi
  # A crashing program ends at once instead of starting the debugger.
  run aedebug reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null
  run winedbg reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
  drive_c=$WINEPREFIX/drive_c
}
