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

#include "server.h"
#include "zr.h"

namespace {

constexpr int kCalls = 200;
constexpr double kMandatedWaitMs = 50.0;

double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

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
    zr::sim::Simulator sim;
    std::string error, pty;
    const std::string address = "127.0.77.1";
    if (!sim.listen_tcp(address, zr::sim::kReaderPort, error) || !sim.open_pty(pty, error)) {
        std::fprintf(stderr, "zr_bench: %s\n", error.c_str());
        return 1;
    }
    sim.start();
    std::string ini = "/tmp/zr_bench_" + std::to_string(::getpid()) + ".ini";
    std::ofstream(ini) << "[tcp]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" << address
                       << "\n[serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" << pty << "\nZR_HOST_NAME=127.0.0.1\n";
    std::printf("targets: median overhead < 1 ms, p99 < 3 ms, CPU < 0.5 ms per call\n");
    bool ok = run("tcp", ini, "tcp");
    ok = run("serial", ini, "serial") && ok;
    std::remove(ini.c_str());
    return ok ? 0 : 1;
}
