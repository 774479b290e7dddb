#!/usr/bin/env bash
# Checks that each built library exports exactly its interface: the native .so through its dynamic
# symbol table, the Windows .dll through its export directory.
set -euo pipefail
cd "$(dirname "$0")/.."

fail=0
check() {  # name, expected-list-file, actual (demangled, one per line)
  local name=$1 expected=$2 actual=$3
  if ! diff <(sort "$expected") <(printf '%s\n' "$actual" | sed '/^$/d' | sort) >/tmp/txl-exports.diff; then
    echo "FAIL: $name exports differ from $expected (< expected, > actual):"
    cat /tmp/txl-exports.diff
    fail=1
  else
    echo "ok: $name exports exactly $(wc -l <"$expected") symbols"
  fi
}

so=build/default/bin/VexelSarDll.so
if [ -f "$so" ]; then
  check "$so" bridge/VexelSarDll.exports \
    "$(nm -D --defined-only "$so" | awk '{print $3}' | c++filt)"
else
  echo "FAIL: $so not built"; fail=1
fi

dll=build/windows/bin/VexelSarDll.dll
if [ -f "$dll" ]; then
  # The export table lists names after "[Ordinal/Name Pointer] Table".
  names=$(x86_64-w64-mingw32-objdump -p "$dll" |
          awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && NF==0{on=0} on{print $NF}' | c++filt)
  check "$dll" bridge/VexelSarDll.exports "$names"
else
  echo "FAIL: $dll not built"; fail=1
fi

so=build/default/bin/libkrillTXLApi.so
if [ -f "$so" ]; then
  check "$so" api/krillTXLApi.exports \
    "$(nm -D --defined-only "$so" | awk '{print $3}' | c++filt)"
else
  echo "FAIL: $so not built"; fail=1
fi

dll=build/windows/bin/krillTXLApi.dll
if [ -f "$dll" ]; then
  names=$(x86_64-w64-mingw32-objdump -p "$dll" |
          awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && NF==0{on=0} on{print $NF}' | c++filt)
  check "$dll" api/krillTXLApi.exports "$names"
else
  echo "FAIL: $dll not built"; fail=1
fi
exit $fail
