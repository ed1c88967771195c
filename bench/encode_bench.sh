#!/usr/bin/env bash
# zrtool encode --batch of 20 tags against zrsim with 20 tags in the field, over TCP and the
# pseudo-terminal, in fixed and in whole reply timing: the time and the library calls per tag.
# usage: bench/encode_bench.sh [BUILD_DIR]   (default build/; needs zrsim and zrtool)
set -euo pipefail
build=$(realpath "${1:-build}")
work=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT

tags=() batch=""
for n in $(seq 1 20); do
  b=$(printf '%02X' "$n")
  tags+=(--tag "epc=300833B2DDD90140000000$b")
  batch+="by-epc,300833B2DDD90140000000$b,300833B2DDD901400000$b$b,0:C0FFEE$b"$'\n'
done
printf '%s' "$batch" >"$work/tags.csv"

address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
"$build/zrsim" --tcp "$address" "${tags[@]}" >"$work/sim.out" &
sim=$!
for _ in $(seq 100); do grep -q '^zrsim: serial' "$work/sim.out" && break; sleep 0.05; done
pty=$(awk '/^zrsim: serial/ {print $3}' "$work/sim.out")

printf '| link | timing | tags encoded | ms per tag | library calls per tag | whole batch, s |\n'
printf '|---|---|---|---|---|---|\n'
for link in tcp serial; do
  for timing in fixed whole; do
    if [ $link = tcp ]; then connection=(--tcp "$address"); else connection=(--serial "$pty"); fi
    start=$(date +%s.%N)
    "$build/tools/zrtool/zrtool" "${connection[@]}" --timing $timing --json encode --batch "$work/tags.csv" \
      >"$work/out.json" || true
    end=$(date +%s.%N)
    # The tags go back to their first EPCs for the next run.
    sed -E 's/^by-epc,([0-9A-F]+),([0-9A-F]+),.*/by-epc,\2,\1,/' "$work/tags.csv" >"$work/back.csv"
    "$build/tools/zrtool/zrtool" "${connection[@]}" encode --batch "$work/back.csv" >/dev/null
    python3 - "$work/out.json" "$link" "$timing" "$start" "$end" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
print(f"| {sys.argv[2]} | {sys.argv[3]} | {d['encoded']} of {len(d['tags'])} | {d['ms_per_tag']} | "
      f"{d['calls_per_tag']} | {float(sys.argv[5]) - float(sys.argv[4]):.1f} |")
PY
  done
done
