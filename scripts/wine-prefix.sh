# Sourced by the Wine stages: a fresh, headless Wine prefix for one architecture's programs.
#
#   source scripts/wine-prefix.sh
#   wine_prefix_start x64|x86 STAGE_FOLDER     # STAGE_FOLDER/prefix, STAGE_FOLDER/logs
#
# Afterwards: $wine runs the architecture's programs, $regview (/reg:64 or /reg:32) is its registry
# view, `run LOG PROGRAM ARGS...` runs a program under a time limit and prints its exit code (output
# in logs/LOG.log, its time in logs/steps.tsv), `wine_do PROGRAM ARGS...` runs one under the same
# limit with its output left as it is, `cut_off_check` fails the stage if a program reached the
# limit, `show_log LOG [LINES]` prints a log's end, `ok`/`bad` report a check (bad sets fail=1).
# $cpu_emulator names the emulator the stage's own programs run through (x86 programs on a kernel
# without 32-bit support), empty when they run natively. One Wine session lasts until the calling
# script ends.
#
# The time limit: RUN_LIMIT seconds for each program (300 unless set), doubled where 32-bit
# programs run through an emulator, for either architecture: a 64-bit prefix boots 32-bit programs
# too. Measured on two cores under QEMU 10, the slowest step, wineboot, took twice its native time
# (31 s against 16 s) and the unit tests seven times theirs (20 s against 3 s): doubled, the limit
# keeps the margin it has natively over the slowest step, and a hang still ends in minutes.

ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; fail=1; }
fail=0

# 32-bit Wine: the loader that starts 32-bit programs in a 64-bit prefix. Installed is not enough:
# a kernel built without 32-bit support refuses to execute the loader ("Exec format error") unless
# an emulator is registered for 32-bit programs (the set-up registers QEMU's).
wine32_present() {
  local version
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed" &&
    version=$(wine --version 2>&1) && ! grep -q 'wine32 is missing' <<<"$version"
}
# The emulator 32-bit programs run through, e.g. "qemu-i386-static (QEMU 10.0.2)"; nothing when the
# kernel runs them itself. An enabled binfmt_misc registration for i386 programs is asked before
# the kernel's own loader, so where there is one it runs them.
i386_emulator() {
  local entry magic interpreter version
  [ "$(cat /proc/sys/fs/binfmt_misc/status 2>/dev/null)" = enabled ] || return 0
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
    magic=$(awk '$1 == "magic" { print $2 }' "$entry")
    [[ $magic == 7f454c4601* && ${magic:36:4} == 0300 ]] || continue  # ELF, 32-bit, machine 3 (i386)
    interpreter=$(awk '$1 == "interpreter" { print $2 }' "$entry")
    version=$("$interpreter" --version 2>/dev/null | sed -n '1s/^qemu.* version \([0-9][0-9.]*\).*/\1/p')
    echo "${interpreter##*/}${version:+ (QEMU $version)}"
    return 0
  done
}
# Why wine32_present fails, for a SKIPPED line.
wine32_absence() {
  local emulator
  if ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    echo "32-bit Wine could not be installed; see the set-up's warning"
  elif emulator=$(i386_emulator) && [ -n "$emulator" ]; then
    echo "32-bit Wine is installed but its loader does not start under $emulator, the emulator registered for 32-bit programs"
  else
    echo "32-bit Wine is installed but this machine's kernel does not run 32-bit programs and no emulator is" \
         "registered for them (bash scripts/setup.sh registers QEMU's qemu-i386 with binfmt_misc; see its output)"
  fi
}

run() {  # log name, program, arguments...
  local name=$1 log=$stage/logs/$1.log rc=0 start=$EPOCHREALTIME
  shift
  timeout "$limit" "$wine" "$@" >"$log" 2>&1 </dev/null || rc=$?
  [ "$rc" != 124 ] || echo "$name" >>"$stage/logs/cut-off"
  # How long each program took, beside its exit code: what a time limit is judged against.
  awk -v n="$name" -v rc="$rc" -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%s\t%s\t%.1f\n", n, rc, b - a }' \
    >>"$stage/logs/steps.tsv"
  echo "$rc"
}
# A program cut off by its limit is a hang whatever the caller makes of the missing answer (an
# empty query reads like an absent key): it is noted for cut_off_check.
wine_do() {
  local rc=0
  timeout "$limit" "$wine" "$@" || rc=$?
  [ "$rc" != 124 ] || echo "$*" >>"$stage/logs/cut-off"
  return $rc
}
cut_off_check() {  # before a stage's verdict
  [ ! -s "$stage/logs/cut-off" ] || bad "cut off after $limit s: $(paste -sd';' "$stage/logs/cut-off")"
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
  cpu_emulator=""
  limit=${RUN_LIMIT:-300}
  local emulator="" wine32=0
  wine32_present && wine32=1 && emulator=$(i386_emulator)
  [ -z "$emulator" ] || limit=$((limit * 2))
  if [ "$arch" = x86 ]; then
    regview=(/reg:32)
    # 32-bit programs need the 32-bit loader; without it only what 64-bit programs do can run.
    if [ "$wine32" = 1 ]; then wine=$(command -v wine); cpu_emulator=$emulator; fi
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

  echo "== $arch: fresh Wine prefix $WINEPREFIX ($(wine_do --version 2>/dev/null || echo wine))"
  [ -z "$emulator" ] || echo "== 32-bit programs run under $emulator: each program's time limit is ${limit} s"
  local rc
  rc=$(run wineboot wineboot -i)
  [ "$rc" = 0 ] || { bad "wineboot -i exited $rc"; show_log wineboot; exit 1; }
  # One Wine session for the rest of the stage: a server that stays up between programs keeps the
  # service control manager alive from step to step. Otherwise the session ends whenever no program
  # runs, and a program started while the old server is still saving the registry can meet a
  # manager that has not seen the service just installed.
  if [ -n "$wineserver" ]; then
    # the set-up session has ended and saved the registry
    timeout "$limit" "$wineserver" -w || { bad "the set-up session did not end within $limit s"; exit 1; }
    "$wineserver" -p >/dev/null 2>&1 </dev/null || { bad "wineserver -p failed"; exit 1; }
  fi
  # A crashing program ends at once instead of starting the debugger.
  run aedebug reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null
  run winedbg reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
  drive_c=$WINEPREFIX/drive_c
}
