#!/usr/bin/env bash
# The test suite on a loaded machine: busy processes keep the load average at 8 or more
# while ctest runs the suite (unit, e2e, gate) ROUNDS times in a row (default 3). Exits 1 at
# the first round that fails. Build first (scripts/test.sh builds in build/).
#
# usage: scripts/loaded_test.sh [ROUNDS] [HOGS]   (HOGS busy processes, default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
hogs=${2:-10}
[ -d build ] || { echo "loaded_test.sh: no build/ (run scripts/test.sh first)" >&2; exit 1; }

pids=()
stop() { [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null || true; }
trap stop EXIT
for _ in $(seq "$hogs"); do
    (while :; do :; done) &
    pids+=($!)
done
# The load average follows the hogs within a minute or so.
for _ in $(seq 120); do
    load=$(cut -d' ' -f1 /proc/loadavg)
    [ "${load%%.*}" -ge 8 ] && break
    sleep 1
done
echo "loaded_test.sh: $hogs busy processes, load $(cut -d' ' -f1-3 /proc/loadavg)"

for round in $(seq "$rounds"); do
    start=$(date +%s)
    if ! ctest --test-dir build --output-on-failure -j"$(nproc)" >build/loaded_round_$round.log 2>&1; then
        grep -E "tests passed|FAILED|Failed" build/loaded_round_$round.log | tail -20
        echo "loaded_test.sh: round $round of $rounds FAILED (load $(cut -d' ' -f1 /proc/loadavg)); build/loaded_round_$round.log"
        exit 1
    fi
    echo "loaded_test.sh: round $round of $rounds passed in $(( $(date +%s) - start )) s (load $(cut -d' ' -f1 /proc/loadavg))"
done
