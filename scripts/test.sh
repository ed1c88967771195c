#!/usr/bin/env bash
# Builds everything and runs every test: unit tests on a virtual-time platform, end-to-end
# tests of the shared library and zrtool against the simulator over loopback TCP and a pty.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
