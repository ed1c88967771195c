#!/usr/bin/env bash
# Builds everything and runs the guided tour of zrtool on the built-in reader simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"
build/tools/zrtool/zrtool --simulate demo
