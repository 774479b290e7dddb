#!/usr/bin/env bash
# The Debian package as a Linux user gets it: built, installed with apt, run, removed.
#
#   bash scripts/deb-check.sh
#
# Installs into this machine's system (CI runs it as root on a throw-away machine), runs the tools
# from /usr/bin on a fresh simulated notebook, checks lintian reports no error, and removes the
# package again, which must leave none of its files behind.
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
command -v lintian >/dev/null || { $SUDO apt-get install -y -qq --no-install-recommends lintian >/dev/null; }

out=$(bash scripts/package-deb.sh | tail -1)
deb=${out%%:*}
fail=0
ok() { echo "ok: $*"; }
bad() { echo "FAIL: $*"; fail=1; }

errors=$(lintian --suppress-tags no-manual-page "$deb" 2>/dev/null | grep -c '^E:' || true)
if [ "$errors" = 0 ]; then ok "lintian $deb: no error"; else bad "lintian $deb: $errors errors"; lintian "$deb" | grep '^E:'; fi

export DEBIAN_FRONTEND=noninteractive
if $SUDO apt-get install -y -qq "./$deb" >/dev/null 2>&1; then ok "apt install ./$deb"; else bad "apt install ./$deb"; exit 1; fi
files=$(dpkg -L txl | while read -r f; do [ -f "$f" ] || [ -L "$f" ] && echo "$f"; done)

notebook=$(mktemp -d "${TMPDIR:-/tmp}/txl-deb-notebook.XXXXXX")
trap 'rm -rf "$notebook"' EXIT
export TXL_MACHINE_DIR=$notebook TXL_TIME_SCALE=0.01
if txlctl status >"$notebook.status" 2>&1 && grep -q '^ready: yes' "$notebook.status"; then ok "txlctl status: ready"
else bad "txlctl status"; cat "$notebook.status"; fi
if TxlApply 1 >/dev/null 2>&1; then ok "TxlApply 1: exit 0"; else bad "TxlApply 1 failed"; fi
if txlctl --json table get 2>/dev/null | python3 -m json.tool >/dev/null; then ok "txlctl --json table get: one JSON document"
else bad "txlctl --json table get"; fi
if [ -n "$(echo | txlsim mbim | head -1)" ]; then ok "txlsim mbim: serves a device"; else bad "txlsim mbim"; fi
rm -f "$notebook.status"

if $SUDO apt-get remove --purge -y -qq txl >/dev/null 2>&1; then ok "apt remove --purge txl"; else bad "apt remove txl"; fi
left=$(for f in $files /usr/lib/txl; do [ -e "$f" ] || [ -L "$f" ] && echo "$f"; done || true)
if [ -z "$left" ] && ! dpkg -s txl >/dev/null 2>&1; then ok "nothing of the package left"
else bad "left behind: $(echo "$left" | paste -sd' ' -)"; fi

if [ "$fail" = 0 ]; then echo "deb check passed"; else echo "deb check FAILED"; fi
exit $fail
