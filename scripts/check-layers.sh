#!/usr/bin/env bash
# Fails when a source includes a header of a layer it must not reach (the rule and the picture:
# docs/ARCHITECTURE.md, "Layers"). Reads the #include lines only; builds nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

failures=0

# forbid FOLDER PATTERN WHY [EXCEPT]: every #include "PATTERN..." in FOLDER (but in files matching
# the regular expression EXCEPT) is a violation.
forbid() {
  local folder=$1 pattern=$2 why=$3 except=${4:-}
  local hits
  hits=$(grep -rnE --include='*.h' --include='*.cpp' "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"(${pattern})" \
    "$folder" || true)
  if [[ -n $except && -n $hits ]]; then
    hits=$(grep -vE "^(${except}):" <<<"$hits" || true)
  fi
  [[ -z $hits ]] && return 0
  while IFS= read -r hit; do
    echo "check-layers: ${hit%%:*}:$(cut -d: -f2 <<<"$hit") includes $(grep -oE '"[^"]+"' <<<"$hit"): $why" >&2
  done <<<"$hits"
  failures=$((failures + 1))
}

# The platform is the bottom: it knows the OS and nothing of the project above it. A simulated
# modem reaches it only by registering (platform/modem.h).
forbid platform 'sim/|bridge/|api/|tool/|service/|tests/' \
  "platform/ includes nothing of the project above it"
# The simulator stands on the platform alone; its core knows its services only through the
# declarations it makes for them (sim/runtime.h, sim/nvm_store.h).
forbid sim 'bridge/|api/|tool/|service/|tests/' "sim/ includes nothing of bridge/, api/, tool/, service/"
forbid sim 'sim/services/' "sim/ (the core) includes nothing of sim/services/, which stands on it" \
  'sim/services/.*'
# The bridge is loaded by the control library, never the other way round; the simulator enters a
# library only through its load hook, which registers it.
forbid bridge 'api/|tool/|service/|tests/' "bridge/ includes nothing of api/ (nor tool/, service/)"
forbid bridge 'sim/' "bridge/ reaches the simulator only in its load hook" 'bridge/vexel_sar_dll\.cpp'
forbid api 'tool/|service/|tests/' "api/ includes nothing of tool/ or service/"
forbid api 'sim/' "api/ reaches the simulator only in its load hook" 'api/krill_dll\.cpp'
# The service host shares nothing with the other deliverables but the platform.
forbid service 'sim/|bridge/|api/|tool/|tests/' "service/ includes only platform/ (and its own headers)"
forbid tool 'tests/' "tool/ includes nothing of tests/"
forbid tool 'sim/' "of the tools only txlsim reaches the simulator" 'tool/txlsim/.*'

if ((failures > 0)); then
  echo "check-layers: $failures rule(s) broken; the layers are described in docs/ARCHITECTURE.md" >&2
  exit 1
fi
echo "check-layers: every include stays within its layer"
