#!/usr/bin/env bash
# Builds what the demo runs (zrtool, the library and the simulator; not the tests) and runs
# the guided tour of zrtool on the built-in reader simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --build
cmake -S . -B build >/dev/null
echo "demo.sh: building the library, zrtool and zrsim (about 1½ min on an idle 2-core machine, 2 min 40 s of CPU)"
cmake --build build -j"$(nproc)" --target zrtool zrsim
build/tools/zrtool/zrtool --simulate demo
