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

so_exports() { nm -D --defined-only "$1" | awk '{print $3}' | c++filt; }
# The export table lists names after "[Ordinal/Name Pointer] Table".
dll_exports() {
  x86_64-w64-mingw32-objdump -p "$1" |
    awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && NF==0{on=0} on{print $NF}' | c++filt
}

# library file, its list of expected exports, the function that reads what it exports
while read -r lib expected reader; do
  if [ -f "$lib" ]; then
    check "$lib" "$expected" "$($reader "$lib")"
  else
    echo "FAIL: $lib not built"; fail=1
  fi
done <<'LIST'
build/default/bin/VexelSarDll.so bridge/VexelSarDll.exports so_exports
build/windows/bin/VexelSarDll.dll bridge/VexelSarDll.exports dll_exports
build/default/bin/libkrillTXLApi.so api/krillTXLApi.exports so_exports
build/windows/bin/krillTXLApi.dll api/krillTXLApi.exports dll_exports
LIST
exit $fail
