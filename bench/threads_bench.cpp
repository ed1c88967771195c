// N readers driven by N threads, one session each, over loopback TCP: the aggregate rate of
// completed commands for ZRReset (50 ms wait) and for a report poll with nothing waiting
// (ZRReport). Commands wait on the reader, not on the CPU, so the rate should grow with N.
//
//   zr_threads_bench [max N]      (default 64; 1 measures the single-reader figure alone)
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server.h"
#include "zr.h"

namespace {

constexpr int kCallsPerThread = 60;
constexpr int kSizes[] = {1, 2, 4, 8, 16, 32, 64};

struct Readers {
    std::vector<std::unique_ptr<zr::sim::Simulator>> sims;
    std::string ini;

    bool start(int n) {
        ini = "/tmp/zr_threads_bench_" + std::to_string(::getpid()) + ".ini";
        std::ofstream file(ini);
        for (int i = 0; i < n; ++i) {
            // One simulated reader per address, each serving on its own thread as a real one would.
            const std::string address = "127.0.78." + std::to_string(i + 1);
            auto sim = std::make_unique<zr::sim::Simulator>();
            std::string error;
            if (!sim->listen_tcp(address, zr::sim::kReaderPort, error)) {
                std::fprintf(stderr, "%s: %s\n", address.c_str(), error.c_str());
                return false;
            }
            sim->start();
            sims.push_back(std::move(sim));
            file << "[r" << i << "]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" << address << "\n";
        }
        return true;
    }
    ~Readers() {
        for (auto& s : sims) s->stop();
        if (!ini.empty()) std::remove(ini.c_str());
    }
};

// Completed calls per second over all threads, from the moment all have started to the last one's end.
double aggregate_rate(const Readers& readers, int n, bool poll, int& failures) {
    std::vector<int> handles(n, -1);
    for (int i = 0; i < n; ++i)
        if (ZROpen(&handles[i], readers.ini.c_str(), ("r" + std::to_string(i)).c_str()) != ZR_OK) {
            std::fprintf(stderr, "cannot open reader %d\n", i);
            std::exit(1);
        }
    std::barrier start(n + 1);
    std::vector<int> failed(n, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            unsigned char buffer[256];
            start.arrive_and_wait();
            for (int c = 0; c < kCallsPerThread; ++c) {
                // An empty poll gives 0; anything else is a failure.
                const int r = poll ? ZRReport(handles[i], buffer) : ZRReset(handles[i]);
                if (r != (poll ? 0 : ZR_OK)) ++failed[i];
            }
        });
    start.arrive_and_wait();
    const auto t0 = std::chrono::steady_clock::now();
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    for (int i = 0; i < n; ++i) {
        failures += failed[i];
        ZRClose(&handles[i]);
    }
    return n * kCallsPerThread / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int max_n = argc > 1 ? std::atoi(argv[1]) : 64;
    Readers readers;
    if (!readers.start(max_n)) return 1;
    std::printf("%d calls per thread; target: rate(N) >= 0.9 x N x rate(1)\n", kCallsPerThread);
    std::printf("%4s  %14s %8s  %14s %8s\n", "N", "ZRReset/s", "x rate1", "ZRReport/s", "x rate1");
    double reset1 = 0, poll1 = 0;
    int failures = 0;
    bool ok = true;
    for (int n : kSizes) {
        if (n > max_n) break;
        const double reset = aggregate_rate(readers, n, false, failures);
        const double poll = aggregate_rate(readers, n, true, failures);
        if (n == 1) reset1 = reset, poll1 = poll;
        const double rx = reset / reset1, px = poll / poll1;
        ok = ok && rx >= 0.9 * n && px >= 0.9 * n;
        std::printf("%4d  %14.1f %8.2f  %14.1f %8.2f\n", n, reset, rx, poll, px);
    }
    std::printf("failures: %d; %s\n", failures, ok ? "target met" : "target missed");
    return ok && failures == 0 ? 0 : 1;
}
