// ZRReset against zrsim answering at once, over loopback TCP and over a pseudo-terminal:
// the library's overhead per call beyond the 50 ms wait the protocol mandates, and the CPU
// time the calling thread spends per call.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "zr.h"

namespace {

using zr::bench::percentile;
using zr::bench::thread_cpu_ms;

constexpr int kCalls = 200;
constexpr double kMandatedWaitMs = 50.0;

bool run(const char* label, const std::string& ini, const char* section) {
    int handle = -1;
    if (ZROpen(&handle, ini.c_str(), section) != ZR_OK) {
        std::printf("%s: cannot open\n", label);
        return false;
    }
    std::vector<double> overhead;
    double cpu_total = 0;
    int failures = 0;
    for (int i = 0; i < kCalls; ++i) {
        auto t0 = std::chrono::steady_clock::now();
        double c0 = thread_cpu_ms();
        int r = ZRReset(handle);
        double c1 = thread_cpu_ms();
        auto t1 = std::chrono::steady_clock::now();
        if (r != ZR_OK) ++failures;
        overhead.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count() - kMandatedWaitMs);
        cpu_total += c1 - c0;
    }
    ZRClose(&handle);
    std::printf("%-7s ZRReset x%d: overhead median %.3f ms, p99 %.3f ms; CPU %.3f ms/call; failures %d\n", label,
                kCalls, percentile(overhead, 0.5), percentile(overhead, 0.99), cpu_total / kCalls, failures);
    return failures == 0;
}

}  // namespace

int main() {
    zr::bench::BenchSim host;
    if (!host.start("127.0.77.1", "zr_bench")) return 1;
    std::printf("targets: median overhead < 1 ms, p99 < 3 ms, CPU < 0.5 ms per call\n");
    bool ok = run("tcp", host.ini, "tcp");
    ok = run("serial", host.ini, "serial") && ok;
    return ok ? 0 : 1;
}
