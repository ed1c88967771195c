// Soak: thousands of mixed commands against zrsim over loopback TCP and pseudo-terminals, with
// inventories left uncollected at random and random one-shot faults. The reader's data changes
// before every query, so a reply taken for the wrong request shows as wrong data.
//
//   zr_soak [--tcp N] [--serial N] [--sessions K] [--fault-every M] [--seed S]
//
// Prints per link: commands, faults, desyncs (a command that failed although the reader
// answered it well), wrong-data successes, late costs (the one command after a late reply that
// may fail, by design), resident memory after the first tenth and at the end, and open
// descriptors before and after.
// Target: 0 desyncs, 0 wrong-data successes, no growth. Sessions run one thread each, every
// session against a simulator of its own.
#include <dirent.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "units/config.h"
#include "zr.h"

namespace {

using zr::sim::ConfigUnit;
using zr::sim::Fault;
using zr::sim::FaultKind;
using zr::sim::ReaderModel;

long rss_kb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(1 << 10, '\n');
    }
    return 0;
}

int open_fds() {
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (::readdir(d)) ++n;
        ::closedir(d);
    }
    return n - 3;  // ".", ".." and the directory itself
}

struct Counts {
    std::atomic<long> commands{0}, faults{0}, desyncs{0}, wrong_data{0}, late_costs{0}, open_failures{0};
};

// The faults a reader or a line can produce; a hang-up is left to the end-to-end tests.
const Fault kFaults[] = {
    {FaultKind::drop},          {FaultKind::delay, 80},  {FaultKind::delay, 200},     {FaultKind::split, 3, 5},
    {FaultKind::bad_crc},       {FaultKind::wrong_echo}, {FaultKind::status, 0x05},   {FaultKind::garbage, 5},
    {FaultKind::oversize, 40},
};

class Session {
public:
    Session(zr::sim::Simulator& sim, const std::string& ini, const char* section, unsigned seed, int fault_every)
        : sim_(sim), rng_(seed), fault_every_(fault_every) {
        if (ZROpen(&handle_, ini.c_str(), section) != ZR_OK) handle_ = -1;
        tag_ = sim_.with_model([](ReaderModel& m) { return m.tags[0].id; });
        tags_ = sim_.with_model([](ReaderModel& m) { return static_cast<int>(m.tags.size()); });
    }
    ~Session() {
        if (handle_ != -1) ZRClose(&handle_);
    }
    bool open() const { return handle_ != -1; }

    void run(int commands, Counts& c) {
        bool late_before = false;
        int last_kind = -1;
        for (int i = 0; i < commands; ++i) {
            const int kind = static_cast<int>(pick(5));
            std::optional<Fault> fault;
            if (fault_every_ > 0 && pick(fault_every_) == 0) fault = kFaults[pick(std::size(kFaults))];
            const Outcome o = one(kind, fault);
            ++c.commands;
            if (fault) ++c.faults;
            if (o == Outcome::wrong_data) ++c.wrong_data;
            if (o == Outcome::failed && !fault) {
                if (late_before) ++c.late_costs;
                else if (++c.desyncs <= 5) std::fprintf(stderr, "desync: command kind %d after %d\n", kind, last_kind);
            }
            last_kind = kind;
            late_before = fault && fault->kind == FaultKind::delay;
            // The simulator records every request: forgotten here, or it would count as growth.
            if (i % 100 == 99) sim_.clear_requests();
        }
    }

private:
    enum class Outcome { ok, failed, wrong_data };

    template <typename F>
    auto model(F&& f) {
        return sim_.with_model([&](ReaderModel& m) { return f(m); });
    }
    std::size_t pick(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }
    std::uint8_t byte() { return static_cast<std::uint8_t>(pick(256)); }

    Outcome one(int kind, const std::optional<Fault>& fault) {
        static const std::uint8_t kCodes[] = {0x67, 0xA0, 0x72, 0x62, 0x81};
        if (fault) {
            Fault once = *fault;
            once.times = 1;
            sim_.set_fault(kCodes[kind], once);
        }
        Outcome o = Outcome::ok;
        switch (kind) {
            case 0: o = ZRReset(handle_) == ZR_OK ? Outcome::ok : Outcome::failed; break;
            case 1: {  // the fixed number is in the state bytes
                const std::uint8_t n = byte();
                model([&](ReaderModel& m) { m.unit<ConfigUnit>().fixed_number = n; return 0; });
                unsigned char s[6] = {};
                if (ZRGetReaderState(handle_, 0, s) != ZR_OK) o = Outcome::failed;
                else if (s[3] != n) o = Outcome::wrong_data;
                break;
            }
            case 2: {
                const std::uint8_t v[4] = {byte(), byte(), byte(), byte()};
                model([&](ReaderModel& m) { std::copy_n(v, 4, m.tags[0].user.begin()); return 0; });
                unsigned char out[4] = {};
                if (ZRReadUserData(handle_, 1, 0, 4, tag_.data(), out) != ZR_OK) o = Outcome::failed;
                else if (!std::equal(out, out + 4, v)) o = Outcome::wrong_data;
                break;
            }
            case 3: {  // tag parameter area
                const std::uint8_t address = static_cast<std::uint8_t>(pick(200)), v = byte();
                model([&](ReaderModel& m) { m.unit<ConfigUnit>().tag_area[address] = v; return 0; });
                unsigned char out[1] = {};
                if (ZRTagQuery(handle_, address, 1, out) != ZR_OK) o = Outcome::failed;
                else if (out[0] != v) o = Outcome::wrong_data;
                break;
            }
            case 4: {  // an inventory whose reports are collected in part, or not at all
                if (ZRIdentifyEpcCode(handle_, 1, 0, 0) <= 0) return Outcome::failed;
                const int collect = static_cast<int>(pick(static_cast<std::size_t>(tags_) + 1));
                unsigned char b[256];
                int got = 0;
                for (int polls = 0; got < collect && polls < 40; ++polls) {
                    const int r = ZREpcCodeReport(handle_, b);
                    if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    else if (r == ZR_OK) ++got;
                    else break;
                }
                if (got < collect && !fault) o = Outcome::failed;
                break;
            }
        }
        sim_.clear_faults();
        return o;
    }

    zr::sim::Simulator& sim_;
    std::mt19937 rng_;
    int fault_every_;
    int handle_ = -1;
    std::array<unsigned char, 8> tag_{};
    int tags_ = 0;
};

bool soak(const char* link, int commands, int sessions, int fault_every, unsigned seed) {
    if (commands <= 0) return true;
    std::vector<std::unique_ptr<zr::bench::BenchSim>> hosts;
    std::vector<std::unique_ptr<Session>> s;
    for (int i = 0; i < sessions; ++i) {
        hosts.push_back(std::make_unique<zr::bench::BenchSim>());
        const std::string address = "127.0.78." + std::to_string(1 + i + (link[0] == 's' ? 100 : 0));
        if (!hosts.back()->start(address, ("zr_soak_" + std::to_string(i) + link).c_str())) return false;
    }
    Counts c;
    const int fds0 = open_fds();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < sessions; ++i) {
        s.push_back(std::make_unique<Session>(hosts[static_cast<std::size_t>(i)]->sim, hosts[static_cast<std::size_t>(i)]->ini,
                                              link, seed + static_cast<unsigned>(i), fault_every));
        if (!s.back()->open()) ++c.open_failures;
    }
    // The first tenth warms up (threads, allocator arenas); growth is measured over the rest.
    long rss0 = 0;
    for (int part : {commands / 10, commands - commands / 10}) {
        std::vector<std::thread> threads;
        for (int i = 0; i < sessions; ++i) {
            const int share = part / sessions + (i < part % sessions ? 1 : 0);
            threads.emplace_back([&, i, share] { s[static_cast<std::size_t>(i)]->run(share, c); });
        }
        for (auto& t : threads) t.join();
        if (rss0 == 0) rss0 = rss_kb();
    }
    const long rss1 = rss_kb();
    s.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the simulators see the closes
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%-6s %ld commands in %.0f s (%d sessions): %ld faults, %ld desyncs, %ld wrong-data successes, "
                "%ld late costs; RSS %ld -> %ld kB, descriptors %d -> %d\n",
                link, c.commands.load(), secs, sessions, c.faults.load(), c.desyncs.load(), c.wrong_data.load(),
                c.late_costs.load(), rss0, rss1, fds0, open_fds());
    return c.open_failures == 0 && c.desyncs == 0 && c.wrong_data == 0 && open_fds() == fds0;
}

}  // namespace

int main(int argc, char** argv) {
    int tcp = 20000, serial = 5000, sessions = 8, fault_every = 10;
    unsigned seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (a == "--tcp") tcp = v;
        else if (a == "--serial") serial = v;
        else if (a == "--sessions") sessions = v > 0 ? v : 1;
        else if (a == "--fault-every") fault_every = v;
        else if (a == "--seed") seed = static_cast<unsigned>(v);
        else {
            std::fprintf(stderr, "usage: zr_soak [--tcp N] [--serial N] [--sessions K] [--fault-every M] [--seed S]\n");
            return 2;
        }
    }
    std::printf("target: 0 desyncs, 0 wrong-data successes, no growth (one fault in %d commands)\n", fault_every);
    bool ok = soak("tcp", tcp, sessions, fault_every, seed);
    ok = soak("serial", serial, sessions, fault_every, seed + 1000) && ok;
    return ok ? 0 : 1;
}
