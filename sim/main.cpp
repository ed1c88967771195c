// zrsim: a reader simulator on loopback TCP and a pseudo-terminal.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "population.h"
#include "server.h"
#include "units/inventory.h"

namespace {

std::atomic<bool> stop_requested{false};

std::atomic<bool> listen_requested{false};

void on_signal(int) { stop_requested = true; }
void on_listen_signal(int) { listen_requested = true; }

const char* kUsage =
    "usage: zrsim [options]\n"
    "  A simulated UHF RFID reader. Serves the reader protocol on TCP port 7086 and on a\n"
    "  pseudo-terminal (whose path it prints, to be used as the serial port name).\n"
    "\n"
    "  --tcp ADDRESS      listen on ADDRESS:7086 (repeatable; default 127.0.0.1)\n"
    "  --port N           TCP port (default 7086)\n"
    "  --no-tcp           no TCP listener\n"
    "  --no-pty           no pseudo-terminal\n"
    "  --device-class N   answer as a reader of device class 1, 2 or 3 (default 3): its error\n"
    "                     status bytes and interference command codes\n"
    "  --trace            print every frame in and out, in hex, with the command name\n"
    "  --fault SPEC       inject a fault: CODE:KIND[=VALUE][*TIMES], CODE a command code in hex\n"
    "                     (67 or 0x67, as the trace prints it) or 'all'; *TIMES: only the next\n"
    "                     TIMES replies (decimal), else every reply\n"
    "                     kinds: drop, delay=MS, split=N[,MS], bad-crc, wrong-echo, status=S (hex),\n"
    "                     garbage=N, oversize[=N], close (MS and N decimal)\n"
    "                     several for one command take effect in the order given, each for its\n"
    "                     TIMES: --fault 67:drop*1 --fault 67:delay=200\n"
    "                     example: --fault 67:delay=200 --fault all:split=3,20\n"
    "  --tags FILE        the tags in the field, one per line: id=HEX epc=HEX tid=HEX user=HEX\n"
    "                     visit=HEX destroy=HEX eas=0|1 killed=0|1 (keys left out take defaults)\n"
    "  --tag SPEC         one more tag, in the same form (repeatable; with --tags, after the file)\n"
    "                     default: three tags E2 00 34 12 01 02 03 01..03\n"
    "  --listen-every MS  push a listen frame (0xA1) every MS milliseconds\n"
    "                     (SIGUSR1 pushes one at once: kill -USR1 <pid>)\n"
    "  --alarm-every MS   period of the EAS alarm frames while alarm mode is on (default 100)\n"
    "  --help             this text\n"
    "  --version          the version\n";

bool milliseconds_value(const std::string& text, int& out) {
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < 1 || v > 3600000) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> addresses;
    unsigned port = zr::sim::kReaderPort;
    bool tcp = true, pty = true, trace = false;
    bool own_tags = false;
    std::vector<zr::sim::Tag> tags;
    int listen_every = 0, alarm_every = 0;
    zr::sim::Simulator sim;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "zrsim: " << a << " needs a value\n" << kUsage;
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--tcp") addresses.push_back(value());
        else if (a == "--port") {
            auto v = value();
            char* end = nullptr;
            port = static_cast<unsigned>(std::strtoul(v.c_str(), &end, 10));
            if (*end || port == 0 || port > 65535) {
                std::cerr << "zrsim: bad port '" << v << "'\n";
                return 2;
            }
        } else if (a == "--no-tcp") tcp = false;
        else if (a == "--no-pty") pty = false;
        else if (a == "--trace") trace = true;
        else if (a == "--device-class") {
            auto v = value();
            if (v != "1" && v != "2" && v != "3") {
                std::cerr << "zrsim: bad device class '" << v << "' (1, 2 or 3)\n";
                return 2;
            }
            sim.with_model([&](zr::sim::ReaderModel& m) { m.device_class = v[0] - '0'; });
        }
        else if (a == "--fault") {
            std::string error;
            if (!sim.add_fault(value(), error)) {
                std::cerr << "zrsim: " << error << "\n";
                return 2;
            }
        } else if (a == "--tags" || a == "--tag") {
            std::string error;
            auto v = value();
            zr::sim::Tag tag;
            bool ok = a == "--tags" ? zr::sim::load_population(v, tags, error)
                                    : zr::sim::parse_tag(v, tags.size(), tag, error);
            if (ok && a == "--tag") tags.push_back(tag);
            if (!ok) {
                std::cerr << "zrsim: " << error << "\n";
                return 2;
            }
            own_tags = true;
        } else if (a == "--listen-every" || a == "--alarm-every") {
            auto v = value();
            if (!milliseconds_value(v, a == "--listen-every" ? listen_every : alarm_every)) {
                std::cerr << "zrsim: bad " << a << " value '" << v << "'\n";
                return 2;
            }
        } else if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--version") {
            std::cout << "zrsim " << ZR_PROJECT_VERSION << " (" << sizeof(void*) * 8 << "-bit)\n";
            return 0;
        } else {
            std::cerr << "zrsim: unknown option '" << a << "'\n" << kUsage;
            return 2;
        }
    }
    if (!tcp && !pty) {
        std::cerr << "zrsim: nothing to serve (--no-tcp and --no-pty)\n";
        return 2;
    }
    sim.with_model([&](zr::sim::ReaderModel& m) {
        if (own_tags) m.tags = tags;
        auto& inventory = m.unit<zr::sim::InventoryUnit>();
        if (listen_every) inventory.listen_period_ms = listen_every;
        if (alarm_every) inventory.alarm_period_ms = alarm_every;
    });
    if (trace) sim.set_trace([](const std::string& line) { std::printf("%s\n", line.c_str()); std::fflush(stdout); });
    if (tcp) {
        if (addresses.empty()) addresses.push_back("127.0.0.1");
        for (const auto& a : addresses) {
            std::string error;
            if (!sim.listen_tcp(a, static_cast<std::uint16_t>(port), error)) {
                std::cerr << "zrsim: " << error << "\n";
                return 1;
            }
            std::printf("zrsim: TCP %s:%u\n", a.c_str(), port);
        }
    }
    if (pty) {
        std::string path, error;
        if (!sim.open_pty(path, error)) {
            std::cerr << "zrsim: " << error << "\n";
            return 1;
        }
        std::printf("zrsim: serial %s\n", path.c_str());
    }
    const auto tag_count = sim.with_model([](zr::sim::ReaderModel& m) { return m.tags.size(); });
    std::printf("zrsim: %zu tag%s in the field, device class %d\n", tag_count, tag_count == 1 ? "" : "s",
                sim.with_model([](zr::sim::ReaderModel& m) { return m.device_class; }));
    for (const auto& line : sim.describe_faults()) std::printf("zrsim: fault %s\n", line.c_str());
    std::fflush(stdout);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGUSR1, on_listen_signal);
    sim.start();
    while (!stop_requested) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (listen_requested.exchange(false))
            sim.with_model([](zr::sim::ReaderModel& m) { m.unit<zr::sim::InventoryUnit>().push_listen_frame(m); });
    }
    sim.stop();
    return 0;
}
