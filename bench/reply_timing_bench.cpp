// Reply timing against zrsim: what a call costs in fixed timing (each wait slept in full) and
// in whole timing (a reply returned the moment it is whole), over loopback TCP and a
// pseudo-terminal, with the reader answering at once and 10 ms late. Prints a Markdown table
// and writes the medians for bench/reply_timing.gp.
//
//   zr_reply_timing_bench [--quick] [--data PATH]   the matrix (PATH default reply_timing.dat)
//   zr_reply_timing_bench --hog [N]                 1000 state calls, serial, whole timing,
//                                                   with N (default 6) spinning processes
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "population.h"
#include "zr.h"

namespace {

using Clock = std::chrono::steady_clock;
using zr::bench::percentile;
using zr::sim::ReaderModel;

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

struct Row {
    std::string link, timing;
    int latency_ms = 0;
    std::string op;
    int calls = 0;
    double per_s = 0, median = 0, p99 = 0;
    int failures = 0;
    std::string note;
};

struct Sample {
    std::vector<double> ms;
    double total_ms = 0;
    int failures = 0;
    std::string note;
};

// `calls` runs of `one`, each timed alone; `one` returns whether it succeeded.
Sample repeat(int calls, const std::function<bool()>& one) {
    Sample s;
    const auto t0 = Clock::now();
    for (int i = 0; i < calls; ++i) {
        const auto c0 = Clock::now();
        if (!one()) ++s.failures;
        s.ms.push_back(ms_since(c0));
    }
    s.total_ms = ms_since(t0);
    return s;
}

void set_population(zr::sim::Simulator& sim, int tags) {
    sim.with_model([tags](ReaderModel& m) {
        m.tags.clear();
        for (int i = 0; i < tags; ++i) m.tags.push_back(zr::sim::default_tag(static_cast<std::size_t>(i)));
    });
}

// One EPC inventory: the start, then reports until a call finds nothing with every tag in.
// A call that finds nothing before that (the reader has not answered yet, or the reports
// are still on the line) is counted, and the collection goes on up to a deadline: a fixed
// timing serial poll finds nothing the moment the line is idle, which is not the end.
struct Inventory {
    int collected = 0;
    int waits = 0;  // empty polls before the first report: the reader has not answered yet
    int gaps = 0;   // empty polls between reports: a loop that stops at the first 0 ends here
};

Inventory inventory(int handle, int tags) {
    Inventory inv;
    std::array<unsigned char, 256> buffer{};
    if (ZRIdentifyEpcCode(handle, 1, 0, 0) <= 0) return inv;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
        const int r = ZREpcCodeReport(handle, buffer.data());
        if (r == ZR_OK) {
            ++inv.collected;
            continue;
        }
        if (r != 0) break;
        if (inv.collected >= tags) break;
        ++(inv.collected == 0 ? inv.waits : inv.gaps);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return inv;
}

struct Plan {
    int fast_fixed;  // 50 ms calls in fixed timing
    int slow_fixed;  // 500 ms calls in fixed timing
    int whole;       // any call in whole timing
    std::map<int, int> inventories_fixed, inventories_whole;  // by tag count
};

std::vector<Row> measure(zr::bench::BenchSim& host, const char* link, bool whole, int latency_ms, const Plan& plan) {
    std::vector<Row> rows;
    auto& sim = host.sim;
    sim.clear_latencies();
    if (latency_ms > 0) {
        std::string error;
        if (!sim.add_latency("all=" + std::to_string(latency_ms), error)) {
            std::fprintf(stderr, "latency: %s\n", error.c_str());
            return rows;
        }
    }
    sim.with_model([](ReaderModel& m) { m.tags = ReaderModel::default_tags(); });
    const auto tag = sim.with_model([](ReaderModel& m) { return m.tags[0].id; });

    int h = -1;
    if (ZROpen(&h, host.ini.c_str(), link) != ZR_OK) {
        std::fprintf(stderr, "%s: cannot open\n", link);
        return rows;
    }
    ZRSetReplyTiming(h, whole ? ZR_REPLY_TIMING_WHOLE : ZR_REPLY_TIMING_FIXED);

    const char* timing = whole ? "whole" : "fixed";
    auto add = [&](const std::string& op, const Sample& s) {
        Row r{link, timing, latency_ms, op, static_cast<int>(s.ms.size()), 0, 0, 0, s.failures, s.note};
        r.per_s = s.total_ms > 0 ? 1000.0 * r.calls / s.total_ms : 0;
        r.median = percentile(s.ms, 0.5);
        r.p99 = percentile(s.ms, 0.99);
        rows.push_back(r);
        std::fprintf(stderr, "  %-6s %-5s %2d ms  %-20s median %8.3f ms  failures %d\n", link, timing, latency_ms,
                     op.c_str(), r.median, r.failures);
    };
    const int fast = whole ? plan.whole : plan.fast_fixed;
    const int slow = whole ? plan.whole : plan.slow_fixed;

    unsigned char state[6]{}, data[4]{}, sys[2]{};
    const unsigned char words[4] = {0x12, 0x34, 0x56, 0x78};
    add("ZRReset", repeat(fast, [&] { return ZRReset(h) == ZR_OK; }));
    add("ZRGetReaderState", repeat(fast, [&] { return ZRGetReaderState(h, 0, state) == ZR_OK; }));
    add("ZRReadUserData 4 B", repeat(fast, [&] { return ZRReadUserData(h, 1, 0, 4, tag.data(), data) == ZR_OK; }));
    add("ZRWriteUserData 4 B", repeat(slow, [&] { return ZRWriteUserData(h, 1, 0, tag.data(), words, 4) == ZR_OK; }));
    add("ZRSysQuery 2 B", repeat(slow, [&] { return ZRSysQuery(h, 0, 2, sys) == ZR_OK; }));

    for (const auto& [tags, runs] : whole ? plan.inventories_whole : plan.inventories_fixed) {
        set_population(sim, tags);
        int waits = 0, gaps = 0, cut = 0;
        auto s = repeat(runs, [&] {
            const auto inv = inventory(h, tags);
            waits += inv.waits;
            gaps += inv.gaps;
            cut += inv.gaps > 0;
            return inv.collected == tags;
        });
        if (waits > 0) s.note = std::to_string(waits) + " empty polls before the first report";
        if (gaps > 0)
            s.note += (s.note.empty() ? "" : "; ") + std::to_string(gaps) + " between reports (" + std::to_string(cut) +
                      " of " + std::to_string(runs) + " inventories)";
        add("EPC inventory " + std::to_string(tags), s);
    }
    sim.with_model([](ReaderModel& m) { m.tags = ReaderModel::default_tags(); });
    ZRClose(&h);
    return rows;
}

std::string fmt(double v) {
    char b[32];
    std::snprintf(b, sizeof b, v >= 100 ? "%.1f" : v >= 10 ? "%.2f" : "%.3f", v);
    return b;
}

void print_table(const std::vector<Row>& rows) {
    std::printf("| link | timing | reader latency | operation | calls | calls/s | median ms | p99 ms | failures | note |\n");
    std::printf("|---|---|---:|---|---:|---:|---:|---:|---:|---|\n");
    for (const auto& r : rows)
        std::printf("| %s | %s | %d ms | %s | %d | %s | %s | %s | %d | %s |\n", r.link.c_str(), r.timing.c_str(),
                    r.latency_ms, r.op.c_str(), r.calls, fmt(r.per_s).c_str(), fmt(r.median).c_str(),
                    fmt(r.p99).c_str(), r.failures, r.note.c_str());
}

// One line per operation; the medians in the column order bench/reply_timing.gp reads.
bool write_data(const std::vector<Row>& rows, const std::string& path) {
    std::vector<std::string> ops;
    for (const auto& r : rows)
        if (std::find(ops.begin(), ops.end(), r.op) == ops.end()) ops.push_back(r.op);
    std::ofstream out(path);
    out << "# operation";
    for (const char* link : {"tcp", "serial"})
        for (int lat : {0, 10})
            for (const char* timing : {"fixed", "whole"}) out << " " << link << "_" << lat << "ms_" << timing;
    out << "\n# median ms per call (inventory: per whole inventory)\n";
    for (const auto& op : ops) {
        std::string label = op.substr(0, op.find(' '));
        if (op.rfind("EPC inventory", 0) == 0) label = "inventory " + op.substr(std::strlen("EPC inventory "));
        out << "\"" << label << "\"";
        for (const char* link : {"tcp", "serial"})
            for (int lat : {0, 10})
                for (const char* timing : {"fixed", "whole"}) {
                    auto it = std::find_if(rows.begin(), rows.end(), [&](const Row& r) {
                        return r.op == op && r.link == link && r.latency_ms == lat && r.timing == timing;
                    });
                    out << " " << (it == rows.end() ? std::string("NaN") : fmt(it->median));
                }
        out << "\n";
    }
    return static_cast<bool>(out);
}

// ---- CPU hog ---------------------------------------------------------------------------

double load_1min() {
    double l = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &l) != 1) l = -1;
        std::fclose(f);
    }
    return l;
}

int hog(int spinners) {
    // Forked before the simulator's thread exists: the children only spin.
    std::vector<pid_t> children;
    for (int i = 0; i < spinners; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            volatile unsigned long n = 0;
            for (;;) n = n + 1;
        }
        if (pid > 0) children.push_back(pid);
    }
    auto stop_children = [&] {
        for (pid_t pid : children) ::kill(pid, SIGKILL);
        for (pid_t pid : children) ::waitpid(pid, nullptr, 0);
    };
    // The 1-minute load average lags: wait (up to 3 minutes) until it shows the hog.
    const auto warm = Clock::now();
    while (load_1min() < 4.0 && Clock::now() - warm < std::chrono::minutes(3))
        std::this_thread::sleep_for(std::chrono::seconds(1));
    const double load_before = load_1min();
    std::fprintf(stderr, "hog: %d spinning processes, load %.2f after %.0f s\n", spinners, load_before,
                 ms_since(warm) / 1000);

    zr::bench::BenchSim host;
    if (!host.start("127.0.79.1", "zr_reply_timing_hog")) {
        stop_children();
        return 1;
    }
    int h = -1;
    if (ZROpen(&h, host.ini.c_str(), "serial") != ZR_OK) {
        std::fprintf(stderr, "serial: cannot open\n");
        stop_children();
        return 1;
    }
    ZRSetReplyTiming(h, ZR_REPLY_TIMING_WHOLE);
    constexpr int kCalls = 1000;
    unsigned char state[6]{};
    std::map<int, int> failures_by_result;
    double load_min = load_before, load_max = load_before;
    auto s = repeat(kCalls, [&] {
        const int r = ZRGetReaderState(h, 0, state);
        if (r != ZR_OK) ++failures_by_result[r];
        return r == ZR_OK;
    });
    const double load_after = load_1min();
    load_min = std::min(load_min, load_after);
    load_max = std::max(load_max, load_after);
    ZRClose(&h);
    stop_children();

    std::printf("CPU hog: %d spinning processes on %ld cores; %d ZRGetReaderState calls, serial, whole timing\n",
                spinners, ::sysconf(_SC_NPROCESSORS_ONLN), kCalls);
    std::printf("load average (1 min): %.2f before, %.2f after\n", load_before, load_after);
    std::printf("median %.3f ms, p99 %.3f ms, max %.3f ms, %.0f calls/s\n", percentile(s.ms, 0.5),
                percentile(s.ms, 0.99), percentile(s.ms, 1.0), 1000.0 * kCalls / s.total_ms);
    std::printf("failures: %d (target 0)", s.failures);
    for (const auto& [result, n] : failures_by_result) std::printf("; result %d x%d", result, n);
    std::printf("\n");
    return s.failures == 0 && load_min >= 4.0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    std::string data = "reply_timing.dat";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            quick = true;
        } else if (a == "--data" && i + 1 < argc) {
            data = argv[++i];
        } else if (a == "--hog") {
            int n = 6;
            if (i + 1 < argc && std::atoi(argv[i + 1]) > 0) n = std::atoi(argv[++i]);
            return hog(n);
        } else {
            std::fprintf(stderr, "usage: %s [--quick] [--data PATH] | --hog [N]\n", argv[0]);
            return 2;
        }
    }
    // Fixed timing sleeps 50 or 500 ms a call: few of those; whole timing is quick.
    Plan plan = quick ? Plan{5, 3, 40, {{1, 3}, {100, 3}, {1000, 2}}, {{1, 10}, {100, 5}, {1000, 3}}}
                      : Plan{30, 8, 200, {{1, 10}, {100, 8}, {1000, 5}}, {{1, 50}, {100, 20}, {1000, 10}}};

    zr::bench::BenchSim host;
    if (!host.start("127.0.79.1", "zr_reply_timing_bench")) return 1;
    const auto t0 = Clock::now();
    std::vector<Row> rows;
    for (const char* link : {"tcp", "serial"})
        for (int latency : {0, 10})
            for (bool whole : {false, true}) {
                auto part = measure(host, link, whole, latency, plan);
                rows.insert(rows.end(), part.begin(), part.end());
            }
    print_table(rows);
    std::printf("\n%zu rows in %.0f s; load average (1 min) %.2f at the end\n", rows.size(), ms_since(t0) / 1000,
                load_1min());
    if (!write_data(rows, data)) {
        std::fprintf(stderr, "cannot write %s\n", data.c_str());
        return 1;
    }
    int failures = 0;
    for (const auto& r : rows) failures += r.failures;
    return failures == 0 ? 0 : 1;
}
