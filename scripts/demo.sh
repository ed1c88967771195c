#!/usr/bin/env bash
# Builds what the demo runs (zrtool, the library and the simulator; not the tests) and runs
# the guided tour of zrtool on the built-in reader simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)" --target zrtool zrsim
build/tools/zrtool/zrtool --simulate demo
