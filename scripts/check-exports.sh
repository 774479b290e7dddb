#!/usr/bin/env bash
# Checks the interfaces of the built binaries:
#  - each library exports exactly its interface: the native .so through its dynamic symbol table,
#    the Windows DLLs (x64 and x86) through their export directories;
#  - every Windows binary carries the file version the build gives it (cmake/TxlVersions.cmake),
#    read back from its version resource;
#  - the Windows folders need nothing but the operating system's own DLLs.
set -euo pipefail
cd "$(dirname "$0")/.."

fail=0
diff_file=$(mktemp)
trap 'rm -f "$diff_file"' EXIT
check() {  # name, expected-list-file, actual (demangled, one per line)
  local name=$1 expected=$2 actual=$3
  if ! diff <(sort "$expected") <(printf '%s\n' "$actual" | sed '/^$/d' | sort) >"$diff_file"; then
    echo "FAIL: $name exports differ from $expected (< expected, > actual):"
    cat "$diff_file"
    fail=1
  else
    echo "ok: $name exports exactly $(wc -l <"$expected") symbols"
  fi
}

so_exports() { nm -D --defined-only "$1" | awk '{print $3}' | c++filt; }
# The export table lists names after "[Ordinal/Name Pointer] Table".
pe_exports() {  # objdump, dll
  "$1" -p "$2" |
    awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && NF==0{on=0} on{print $NF}' | c++filt
}
dll_exports() { pe_exports x86_64-w64-mingw32-objdump "$1"; }
# 32-bit: every export is cdecl (the compiler's default, and what the clients declare), so no
# name carries stdcall decoration (no leading underscore, no @<bytes>).
dll32_exports() { pe_exports i686-w64-mingw32-objdump "$1"; }

# library file, its list of expected exports, the function that reads what it exports
while read -r lib expected reader; do
  if [ -f "$lib" ]; then
    check "$lib" "$expected" "$($reader "$lib")"
  else
    echo "FAIL: $lib not built"; fail=1
  fi
done <<'LIST'
build/default/bin/VexelSarDll.so bridge/VexelSarDll.exports so_exports
build/windows/bin/VexelSarDll.dll bridge/VexelSarDll.x64.exports dll_exports
build/windows-x86/bin/VexelSarDll.dll bridge/VexelSarDll.x86.exports dll32_exports
build/default/bin/libkrillTXLApi.so api/krillTXLApi.exports so_exports
build/windows/bin/krillTXLApi.dll api/krillTXLApi.exports dll_exports
build/windows-x86/bin/krillTXLApi.dll api/krillTXLApi.exports dll32_exports
LIST

# ---- The session API as a Windows caller built with Microsoft's compiler imports it -------------
# The caller's object, compiled for each architecture, may leave undefined only names the DLL
# exports (the C runtime's functions, which it fills its arrays with, aside).
for arch in x86:i686:windows-x86:i686-w64-mingw32 x64:x86_64:windows:x86_64-w64-mingw32; do
  IFS=: read -r name target build tools <<<"$arch"
  dll=build/$build/bin/VexelSarDll.dll
  object=$(mktemp --suffix=.obj)
  if ! clang++-14 --target="$target-pc-windows-msvc" -c tests/msvc/session_caller.cpp -o "$object"; then
    echo "FAIL: the Microsoft-style caller does not compile for $name"; fail=1; continue
  fi
  wanted=$(llvm-nm-14 --undefined-only "$object" | awk '{print $NF}' | { grep '^?' || true; } | sort -u)
  rm -f "$object"
  [ -f "$dll" ] || { echo "FAIL: $dll not built"; fail=1; continue; }
  missing=$(comm -23 <(printf '%s\n' "$wanted") <(pe_exports "$tools-objdump" "$dll" | sort -u))
  if [ "$(wc -l <<<"$wanted")" -ne 7 ] || [ -n "$missing" ]; then
    echo "FAIL: a Microsoft-compiled $name caller imports names $dll does not export: ${missing:-(expected 7 names, got: $wanted)}"
    fail=1
  else
    echo "ok: a Microsoft-compiled $name caller finds all 7 session functions in $dll"
  fi
done

# ---- Version records -------------------------------------------------------------------------------
# binary (without folder), the file version it must report. The service is checked once its folder
# is in the tree.
versions="VexelSarDll.dll 1.2.6.0
krillTXLApi.dll 1.0.0.0
TxlApply.exe 1.0.0.0
txlctl.exe 1.0.0.0"
[ -f service/CMakeLists.txt ] && versions+=$'\n'"TXLGuard.exe 1.0.2.6"

file_version() {  # windres, binary: "a.b.c.d" from the fixed part and the string table, if they agree
  local rc fixed text
  rc=$("$1" -i "$2" -O rc 2>/dev/null) || return 0
  fixed=$(sed -n 's/^ *FILEVERSION \([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)$/\1.\2.\3.\4/p' <<<"$rc")
  text=$(sed -n 's/^ *VALUE "FileVersion", "\(.*\)"$/\1/p' <<<"$rc")
  [ "$fixed" = "$text" ] && echo "$fixed" || echo "fixed $fixed, text $text"
}

for arch in windows:x86_64-w64-mingw32 windows-x86:i686-w64-mingw32; do
  dir=build/${arch%%:*}/bin
  tools=${arch#*:}
  while read -r name want; do
    got=$(file_version "$tools-windres" "$dir/$name")
    if [ "$got" = "$want" ]; then
      echo "ok: $dir/$name file version $got"
    else
      echo "FAIL: $dir/$name file version '${got:-none}', expected $want"; fail=1
    fi
  done <<<"$versions"

  # Only the system's DLLs: the compiler's runtime is linked in statically.
  for bin in "$dir"/*.exe "$dir"/*.dll; do
    foreign=$("$tools-objdump" -p "$bin" | sed -n 's/^\s*DLL Name: //p' |
      grep -viE '^(kernel32|user32|advapi32|ole32|oleaut32|shell32|setupapi|msvcrt|ws2_32|dbghelp|krillTXLApi|VexelSarDll)\.dll$|^api-ms-win-' || true)
    if [ -n "$foreign" ]; then
      echo "FAIL: $bin imports DLLs that are not the system's: $foreign"; fail=1
    fi
  done
  echo "ok: $dir imports only system DLLs (and the suite's own)"
done
exit $fail
