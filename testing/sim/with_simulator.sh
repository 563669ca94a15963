#!/usr/bin/env bash
# Runs a command with the scanner simulator serving the Wine prefix's COM
# ports; the simulator's address is in SCANNER_SIM. The simulator is
# stopped on exit, also on failure. SCANNER_SIM_OPTIONS adds options of
# the simulator (--scan COM1 for a scanner that scans by itself).
set -euo pipefail
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
here=$(cd "$(dirname "$0")" && pwd)
port_file=$(mktemp -u "${TMPDIR:-/tmp}/scanner-sim.XXXXXX")
# shellcheck disable=SC2086  # the options are words
python3 "$here/scanner_sim.py" --prefix "$WINEPREFIX" --port-file "$port_file" \
  ${SCANNER_SIM_OPTIONS:-} &
sim_pid=$!
cleanup() {
  kill "$sim_pid" >/dev/null 2>&1 || true
  wait "$sim_pid" 2>/dev/null || true
  rm -f "$port_file"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
for _ in $(seq 1 100); do
  [[ -s "$port_file" ]] && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "simulator failed to start" >&2; exit 1; }
  sleep 0.05
done
export SCANNER_SIM="127.0.0.1:$(cat "$port_file")"
set +e
"$@"
status=$?
set -e
exit "$status"
