#!/usr/bin/env bash
# Builds everything, starts the reader simulator, and runs the example programs against it
# over TCP and over the simulator's pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
out=$(mktemp)
ini=$(mktemp --suffix=.ini)
./build/zrsim --tcp 127.0.0.1 >"$out" &
sim=$!
trap 'kill $sim 2>/dev/null; rm -f "$out" "$ini"' EXIT
for _ in $(seq 50); do grep -q serial "$out" && break; sleep 0.1; done
pty=$(awk '/serial/ {print $3}' "$out")
cat >"$ini" <<INI
[tcp]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=127.0.0.1

[serial]
ZR_PORT_TYPE=COM
ZR_COM_NUMBER=$pty
ZR_HOST_NAME=127.0.0.1
INI
for section in tcp serial; do
  echo "== $section: reset"
  ./build/zr_example "$ini" "$section"
  echo "== $section: inventory"
  ./build/zr_inventory_example "$ini" "$section"
  echo "== $section: inventory rounds"
  ./build/zr_recover_example "$ini" "$section" 2
done
# The reader goes away for a second in the middle of the rounds and comes back.
echo "== tcp: inventory rounds across a simulator restart"
./build/zr_recover_example "$ini" tcp 8 &
rounds=$!
sleep 1
kill $sim
wait $sim 2>/dev/null || true
sleep 1
./build/zrsim --tcp 127.0.0.1 >"$out" &
sim=$!
wait $rounds
