// Report collection against zrsim: how fast ZRReport takes report frames that are already
// waiting on loopback TCP, how long a report call takes with nothing waiting, and the CPU an
// EAS report poll with nothing waiting costs.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "population.h"
#include "bench_support.h"
#include "zr.h"

namespace {

using zr::bench::median;
using zr::bench::thread_cpu_ms;

constexpr int kReports = 1000;

struct Timing {
    double wall_ms;
    double cpu_ms;
    int result;
};

Timing timed(const std::function<int()>& call) {
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = thread_cpu_ms();
    const int r = call();
    const double c1 = thread_cpu_ms();
    const auto t1 = std::chrono::steady_clock::now();
    return {std::chrono::duration<double, std::milli>(t1 - t0).count(), c1 - c0, r};
}

// 1000 reports of one inventory, all sent by zrsim before the first is collected.
bool collect_waiting_reports(zr::sim::Simulator& sim, const std::string& ini) {
    sim.with_model([](zr::sim::ReaderModel& m) {
        m.tags.clear();
        for (int i = 0; i < kReports; ++i) m.tags.push_back(zr::sim::default_tag(static_cast<std::size_t>(i)));
    });
    int handle = -1;
    if (ZROpen(&handle, ini.c_str(), "tcp") != ZR_OK) return false;
    ZRIdentify(handle, 1, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // every report is on its way
    std::vector<double> per_report;
    std::array<unsigned char, 256> buffer{};
    int collected = 0;
    for (int i = 0; i < kReports; ++i) {
        auto t = timed([&] { return ZRReport(handle, buffer.data()); });
        if (t.result != ZR_OK) break;
        ++collected;
        per_report.push_back(t.wall_ms);
    }
    ZRClose(&handle);
    const double m = median(per_report);
    std::printf("tcp     ZRReport, %d waiting reports: collected %d, median %.4f ms per report (target < 1 ms)\n",
                kReports, collected, m);
    sim.with_model([](zr::sim::ReaderModel& m) { m.tags = zr::sim::ReaderModel::default_tags(); });
    return collected == kReports && m < 1.0;
}

bool nothing_waiting(const std::string& ini, const char* section, double wall_limit_ms) {
    int handle = -1;
    if (ZROpen(&handle, ini.c_str(), section) != ZR_OK) return false;
    std::array<unsigned char, 256> buffer{};
    std::vector<double> wall, cpu;
    bool zero = true;
    for (int i = 0; i < 20; ++i) {
        auto t = timed([&] { return ZRReport(handle, buffer.data()); });
        zero = zero && t.result == 0;
        wall.push_back(t.wall_ms);
        cpu.push_back(t.cpu_ms);
    }
    std::vector<double> eas_wall, eas_cpu;
    const int eas_calls = std::string(section) == "tcp" ? 4 : 10;
    for (int i = 0; i < eas_calls; ++i) {
        auto t = timed([&] { return ZREASAlarmReport(handle, buffer.data()); });
        zero = zero && t.result == 0;
        eas_wall.push_back(t.wall_ms);
        eas_cpu.push_back(t.cpu_ms);
    }
    ZRClose(&handle);
    std::printf("%-7s ZRReport, nothing waiting: median %.3f ms (limit %.0f ms), CPU %.3f ms per call\n", section,
                median(wall), wall_limit_ms, median(cpu));
    std::printf("%-7s ZREASAlarmReport, nothing waiting: median %.3f ms, CPU %.3f ms per call (target < 1 ms)\n",
                section, median(eas_wall), median(eas_cpu));
    return zero && median(wall) < wall_limit_ms && median(eas_cpu) < 1.0;
}

}  // namespace

int main() {
    zr::bench::BenchSim host;
    if (!host.start("127.0.78.1", "zr_report_bench")) return 1;
    bool ok = collect_waiting_reports(host.sim, host.ini);
    ok = nothing_waiting(host.ini, "tcp", 75.0) && ok;    // 30 reads of 2 ms
    ok = nothing_waiting(host.ini, "serial", 1.0) && ok;  // at once
    return ok ? 0 : 1;
}
