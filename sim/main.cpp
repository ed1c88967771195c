// zrsim: a reader simulator on loopback TCP and a pseudo-terminal.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>

#include "field.h"
#include "population.h"
#include "proxy.h"
#include "replay.h"
#include "server.h"
#include "transcript_file.h"
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
    "  --latency CODE=MS[~JITTER]\n"
    "                     answer late, like a reader busy with the tags: the replies to CODE MS\n"
    "                     milliseconds after its request, plus up to JITTER more drawn for each\n"
    "                     request; CODE a command code in hex (72 or 0x72), a command name as the\n"
    "                     trace prints it (identify, reset) or 'all' (a code's own latency wins);\n"
    "                     repeatable. An inventory's reports, and the first alarm after an EAS\n"
    "                     alarm start, come that late too\n"
    "                     example: --latency all=5 --latency 71=40~20\n"
    "  --tags FILE        the tags in the field, one per line: id=HEX epc=HEX tid=HEX user=HEX\n"
    "                     visit=HEX destroy=HEX eas=0|1 killed=0|1 (keys left out take defaults)\n"
    "  --tag SPEC         one more tag, in the same form (repeatable; with --tags, after the file)\n"
    "                     default: three tags E2 00 34 12 01 02 03 01..03\n"
    "  --listen-every MS  push a listen frame (0xA1) every MS milliseconds\n"
    "                     (SIGUSR1 pushes one at once: kill -USR1 <pid>)\n"
    "  --alarm-every MS   period of the EAS alarm frames while alarm mode is on (default 100)\n"
    "  --link PATH        a symlink at PATH to the pseudo-terminal, removed at exit (a symlink\n"
    "                     already there is replaced, any other file is not)\n"
    "\n"
    "  Tags that come and go (EPC in hex; antenna 0, a tag's default, reaches every antenna):\n"
    "  --scenario FILE    timed events, one a line, times in ms from the start:\n"
    "                       TIME_MS add EPC [antenna N] [tid HEX] [user HEX]\n"
    "                       TIME_MS remove EPC\n"
    "                       TIME_MS move EPC N\n"
    "                     and optionally 'repeat MS' to play it again every MS ms; '#' comments\n"
    "  --control PATH     take the same events without a time, and 'list', on a Unix socket at\n"
    "                     PATH ('-': standard input); each line is answered with 'ok' or\n"
    "                     'error: ...' (list: the tags, then 'ok'). Repeatable.\n"
    "                     example: echo list | socat - UNIX-CONNECT:PATH\n"
    "\n"
    "  Diagnosing a reader (see README, \"Diagnosing a reader\"):\n"
    "  --proxy HOST[:PORT]  protocol analyser: listen as the simulator would (--tcp, --port) and\n"
    "                     forward every byte unchanged to the reader at HOST (port 7086) and\n"
    "                     back, printing each frame decoded: time, direction ('>' to the reader,\n"
    "                     '<' from it), bytes, command, parameters or status and data, CRC\n"
    "  --proxy-serial DEVICE  the same between a pseudo-terminal (the port the application\n"
    "                     opens) and the reader on serial DEVICE (19200 baud)\n"
    "  --transcript FILE  with --proxy: also write each frame to FILE, one line each (no times,\n"
    "                     so that two captures compare with diff)\n"
    "  --transcript-max BYTES  past this size (suffix k or M; default 64M, at least 64k) FILE\n"
    "                     moves to FILE.1, replacing the one there, and starts again: the\n"
    "                     latest frames are kept, at most twice BYTES on disk\n"
    "  --replay FILE      be the reader of a transcript: each request is compared with the next\n"
    "                     one recorded and answered with the replies recorded after it; requests\n"
    "                     that differ are printed; at the end (Ctrl-C) a summary, exit status 1\n"
    "                     when a request differed or recorded ones did not come\n"
    "  --help             this text\n"
    "  --version          the version\n";

// The --link symlink: replaces only a symlink, and at exit goes only if it still names our
// pseudo-terminal (another simulator may have taken the name since).
bool make_link(const std::string& link, const std::string& target, std::string& error) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = "will not replace " + link + ": it is not a symlink";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        error = "cannot link " + link + " to " + target + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void remove_link(const std::string& link, const std::string& target) {
    char buf[4096];
    const auto n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    if (n > 0 && std::string(buf, static_cast<std::size_t>(n)) == target) ::unlink(link.c_str());
}

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
    std::string proxy_host, proxy_serial, transcript_path, replay_path;
    std::uint64_t transcript_max = zr::sim::kTranscriptMaxDefault;
    std::uint16_t proxy_port = zr::sim::kReaderPort;
    int device_class = 3;
    std::string link_path, scenario_path;
    std::optional<zr::sim::Scenario> scenario;
    std::vector<std::string> controls;
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
            device_class = v[0] - '0';
            sim.with_model([&](zr::sim::ReaderModel& m) { m.device_class = device_class; });
        }
        else if (a == "--proxy") {
            auto v = value();
            proxy_host = v.substr(0, v.find(':'));
            if (auto colon = v.find(':'); colon != std::string::npos) {
                char* end = nullptr;
                const unsigned long p = std::strtoul(v.c_str() + colon + 1, &end, 10);
                if (*end || p == 0 || p > 65535) {
                    std::cerr << "zrsim: bad port in --proxy '" << v << "'\n";
                    return 2;
                }
                proxy_port = static_cast<std::uint16_t>(p);
            }
        } else if (a == "--proxy-serial") proxy_serial = value();
        else if (a == "--transcript") transcript_path = value();
        else if (a == "--transcript-max") {
            auto v = value();
            if (!zr::sim::parse_transcript_max(v, transcript_max)) {
                std::cerr << "zrsim: bad --transcript-max '" << v << "' (bytes, with k or M; at least 64k)\n";
                return 2;
            }
        }
        else if (a == "--replay") replay_path = value();
        else if (a == "--fault") {
            std::string error;
            if (!sim.add_fault(value(), error)) {
                std::cerr << "zrsim: " << error << "\n";
                return 2;
            }
        } else if (a == "--latency") {
            std::string error;
            if (!sim.add_latency(value(), error)) {
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
        } else if (a == "--link") link_path = value();
        else if (a == "--scenario") {
            scenario_path = value();
            std::string error;
            scenario.emplace();
            if (!zr::sim::load_scenario(scenario_path, *scenario, error)) {
                std::cerr << "zrsim: " << error << "\n";
                return 2;
            }
        } else if (a == "--control") controls.push_back(value());
        else if (a == "--help" || a == "-h") {
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
    if (!proxy_host.empty() || !proxy_serial.empty()) {
        if (!proxy_host.empty() && !proxy_serial.empty()) {
            std::cerr << "zrsim: give --proxy or --proxy-serial, not both\n";
            return 2;
        }
        std::unique_ptr<zr::sim::TranscriptFile> transcript;
        if (!transcript_path.empty()) {
            transcript = std::make_unique<zr::sim::TranscriptFile>(transcript_path, transcript_max);
            std::string error;
            if (!transcript->open(error)) {
                std::cerr << "zrsim: " << error << "\n";
                return 1;
            }
        }
        zr::sim::Proxy proxy(
            [](const std::string& line) {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            },
            transcript ? std::function<void(const std::string&)>([&](const std::string& line) {
                // A file that cannot be written is told once; the analyser goes on printing.
                std::string error;
                if (transcript && !transcript->write(line, error)) {
                    std::cerr << "zrsim: " << error << ": the transcript stops here\n";
                    transcript.reset();
                }
            })
                       : nullptr);
        proxy.set_device_class(device_class);
        std::string error;
        if (!proxy_serial.empty()) {
            std::string path;
            if (!proxy.upstream_serial(proxy_serial, error) || !proxy.open_pty(path, error)) {
                std::cerr << "zrsim: " << error << "\n";
                return 1;
            }
            std::printf("zrsim: proxy: serial %s <-> %s\n", path.c_str(), proxy_serial.c_str());
        } else {
            proxy.upstream_tcp(proxy_host, proxy_port);
            if (addresses.empty()) addresses.push_back("127.0.0.1");
            for (const auto& a : addresses) {
                if (!proxy.listen_tcp(a, static_cast<std::uint16_t>(port), error)) {
                    std::cerr << "zrsim: " << error << "\n";
                    return 1;
                }
                std::printf("zrsim: proxy: TCP %s:%u <-> %s:%u\n", a.c_str(), port, proxy_host.c_str(), proxy_port);
                break;  // one listening address: the analyser has one reader
            }
        }
        std::fflush(stdout);
        std::signal(SIGINT, on_signal);
        std::signal(SIGTERM, on_signal);
        proxy.run(stop_requested);
        return 0;
    }
    std::unique_ptr<zr::sim::Replay> replay;
    if (!replay_path.empty()) {
        std::ifstream in(replay_path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<zr::sim::Recorded> frames;
        std::string error;
        if (!in || !zr::sim::parse_transcript(text.str(), frames, error)) {
            std::cerr << "zrsim: " << replay_path << ": " << (in ? error : "cannot read it") << "\n";
            return 2;
        }
        replay = std::make_unique<zr::sim::Replay>(std::move(frames));
        replay->on_difference([](const std::string& d) {
            std::printf("zrsim: replay: %s\n", d.c_str());
            std::fflush(stdout);
        });
        sim.with_model([&](zr::sim::ReaderModel& m) { replay->install(m); });
    }
    if (!transcript_path.empty() && proxy_host.empty() && proxy_serial.empty()) {
        std::cerr << "zrsim: --transcript goes with --proxy or --proxy-serial\n";
        return 2;
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
    if (!link_path.empty() && !pty) {
        std::cerr << "zrsim: --link names the pseudo-terminal: not with --no-pty\n";
        return 2;
    }
    std::string pty_path;
    if (pty) {
        std::string error;
        if (!sim.open_pty(pty_path, error)) {
            std::cerr << "zrsim: " << error << "\n";
            return 1;
        }
        std::printf("zrsim: serial %s\n", pty_path.c_str());
    }
    for (const auto& c : controls) {
        std::string error;
        if (c == "-") sim.control_stream(STDIN_FILENO, STDOUT_FILENO);
        else if (!sim.listen_control(c, error)) {
            std::cerr << "zrsim: " << error << "\n";
            return 1;
        }
        std::printf("zrsim: control %s\n", c == "-" ? "on standard input" : c.c_str());
    }
    if (!link_path.empty()) {
        std::string error;
        if (!make_link(link_path, pty_path, error)) {
            std::cerr << "zrsim: " << error << "\n";
            return 1;
        }
        std::printf("zrsim: link %s -> %s\n", link_path.c_str(), pty_path.c_str());
    }
    const auto tag_count = sim.with_model([](zr::sim::ReaderModel& m) { return m.tags.size(); });
    if (replay)
        std::printf("zrsim: replaying %s: %d recorded requests\n", replay_path.c_str(), replay->requests_left());
    else
        std::printf("zrsim: %zu tag%s in the field, device class %d\n", tag_count, tag_count == 1 ? "" : "s",
                sim.with_model([](zr::sim::ReaderModel& m) { return m.device_class; }));
    for (const auto& line : sim.describe_faults()) std::printf("zrsim: fault %s\n", line.c_str());
    for (const auto& line : sim.describe_latencies()) std::printf("zrsim: latency %s\n", line.c_str());
    std::fflush(stdout);
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    std::signal(SIGUSR1, on_listen_signal);
    if (scenario) {
        std::printf("zrsim: scenario %s: %zu events%s\n", scenario_path.c_str(), scenario->events.size(),
                    scenario->repeat ? (", every " + std::to_string(scenario->repeat->count()) + " ms").c_str() : "");
        std::fflush(stdout);
        sim.play(std::move(*scenario), [&](const std::string& e) {
            std::printf("zrsim: scenario %s, %s\n", scenario_path.c_str(), e.c_str());
            std::fflush(stdout);
        });
    }
    sim.start();
    while (!stop_requested) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (listen_requested.exchange(false))
            sim.with_model([](zr::sim::ReaderModel& m) { m.unit<zr::sim::InventoryUnit>().push_listen_frame(m); });
    }
    sim.stop();
    if (!link_path.empty()) remove_link(link_path, pty_path);
    if (replay) {
        const auto differed = replay->differences().size();
        const int left = replay->requests_left();
        std::printf("zrsim: replay: %zu request%s differed, %d recorded request%s not received\n", differed,
                    differed == 1 ? "" : "s", left, left == 1 ? "" : "s");
        return differed || left ? 1 : 0;
    }
    return 0;
}
