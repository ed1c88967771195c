#!/usr/bin/env bash
# Builds the examples and the simulator (nothing else), starts a simulator of its own, and
# runs the example programs against it over TCP and over its pseudo-terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target zr_example zr_inventory_example zrsim >/dev/null
out=$(mktemp)
ini=$(mktemp --suffix=.ini)
# An address of its own (any 127.x.y.z reaches loopback), so that another simulator on
# 127.0.0.1:7086 is never taken for ours.
address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
./build/zrsim --tcp "$address" >"$out" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null; rm -f "$out" "$ini"' EXIT
for _ in $(seq 100); do
  grep -q '^zrsim: serial' "$out" && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.05
done
pty=$(awk '/^zrsim: serial/ {print $3}' "$out")
if ! kill -0 "$sim" 2>/dev/null || ! grep -q "^zrsim: TCP $address:7086" "$out" || [ -z "$pty" ]; then
  echo "run.sh: the simulator did not start:" >&2
  cat "$out" >&2
  exit 1
fi
cat >"$ini" <<INI
[tcp]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=$address

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
done
