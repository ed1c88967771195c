#!/usr/bin/env python3
"""Per-call overhead of the Python binding over the C call.

Times ZRResultText and a report poll with nothing waiting over serial (ZREpcCodeReport on
zrsim's pseudo-terminal) from C, from raw ctypes and from zr.Reader, and prints the
difference per call. Needs a C compiler and a build directory with libzr.so and zrsim.

usage: bench_overhead.py [BUILD_DIR]   (default: build/ at the top of the repository)
"""

from __future__ import annotations

import ctypes
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build").resolve()
sys.path.insert(0, str(Path(__file__).resolve().parent))
import zr  # noqa: E402

N_TEXT = 200_000
N_POLL = 20_000

HARNESS = r"""
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include "zr.h"
static double now(void) { struct timespec t; clock_gettime(CLOCK_MONOTONIC, &t); return t.tv_sec + t.tv_nsec / 1e9; }
int main(int argc, char** argv) {
    int n_text = atoi(argv[3]), n_poll = atoi(argv[4]), handle = -1;
    unsigned char buffer[256];
    volatile const char* sink = 0;
    double t = now();
    for (int i = 0; i < n_text; ++i) sink = ZRResultText(-4);
    printf("%.1f\n", (now() - t) / n_text * 1e9);
    if (ZROpen(&handle, argv[1], argv[2]) != 1) return 1;
    t = now();
    for (int i = 0; i < n_poll; ++i) if (ZREpcCodeReport(handle, buffer) != 0) return 2;
    printf("%.1f\n", (now() - t) / n_poll * 1e9);
    ZRClose(&handle);
    (void)sink;
    return 0;
}
"""


def per_call_ns(fn, n: int) -> float:
    best = float("inf")
    for _ in range(3):
        t = time.perf_counter()
        for _ in range(n):
            fn()
        best = min(best, (time.perf_counter() - t) / n * 1e9)
    return best


def main() -> int:
    lib = zr.load(os.environ.get("ZR_LIBRARY") or str(BUILD / "libzr.so"))
    with tempfile.TemporaryDirectory() as tmp:
        sim = subprocess.Popen([str(BUILD / "zrsim"), "--no-tcp"], stdout=subprocess.PIPE, text=True)
        try:
            pty = sim.stdout.readline().split()[-1]  # "zrsim: serial /dev/pts/N"
            ini = Path(tmp, "bench.ini")
            ini.write_text(f"[serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER={pty}\nZR_HOST_NAME=127.0.0.1\n")
            exe = Path(tmp, "harness")
            Path(tmp, "harness.c").write_text(HARNESS)
            subprocess.run(["cc", "-O2", "-I", str(ROOT / "api"), str(Path(tmp, "harness.c")), "-o", str(exe),
                            "-L", str(BUILD), "-lzr", f"-Wl,-rpath,{BUILD}"], check=True)
            c_text, c_poll = (float(x) for x in subprocess.run(
                [str(exe), str(ini), "serial", str(N_TEXT), str(N_POLL)], check=True, capture_output=True,
                text=True).stdout.split())

            raw_text = per_call_ns(lambda: lib.ZRResultText(-4), N_TEXT)
            py_text = per_call_ns(lambda: zr.result_text(-4), N_TEXT)
            with zr.Reader.open(ini, "serial") as r:
                buf = ctypes.create_string_buffer(256)
                h = r.handle
                raw_poll = per_call_ns(lambda: lib.ZREpcCodeReport(h, buf), N_POLL)
                py_poll = per_call_ns(r.epc_report, N_POLL)
        finally:
            sim.terminate()
            sim.wait()
    print(f"{'call':34} {'C ns':>8} {'ctypes ns':>10} {'+ns':>7} {'zr ns':>8} {'+ns':>7}")
    for name, c, raw, py in [("ZRResultText / zr.result_text", c_text, raw_text, py_text),
                             ("ZREpcCodeReport, serial, empty", c_poll, raw_poll, py_poll)]:
        print(f"{name:34} {c:8.0f} {raw:10.0f} {raw - c:7.0f} {py:8.0f} {py - c:7.0f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
