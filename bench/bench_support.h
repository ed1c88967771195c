// What the benchmarks share: the calling thread's CPU clock, percentiles, and a simulator on
// loopback TCP and a pseudo-terminal with an INI file naming both ("tcp", "serial").
#pragma once

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "server.h"

namespace zr::bench {

// CPU time of the calling thread only: the simulator's thread runs in the same process.
inline double thread_cpu_ms() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

inline double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    auto i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

inline double median(std::vector<double> v) { return percentile(std::move(v), 0.5); }

class BenchSim {
public:
    // false (with a message on stderr) when the simulator cannot listen.
    bool start(const std::string& address, const char* name) {
        std::string error, pty;
        if (!sim.listen_tcp(address, sim::kReaderPort, error) || !sim.open_pty(pty, error)) {
            std::fprintf(stderr, "%s: %s\n", name, error.c_str());
            return false;
        }
        sim.start();
        ini = "/tmp/" + std::string(name) + "_" + std::to_string(::getpid()) + ".ini";
        std::ofstream(ini) << "[tcp]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" << address
                           << "\n[serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" << pty << "\nZR_HOST_NAME=127.0.0.1\n";
        return true;
    }
    ~BenchSim() {
        if (!ini.empty()) std::remove(ini.c_str());
    }
    sim::Simulator sim;
    std::string ini;
};

}  // namespace zr::bench
