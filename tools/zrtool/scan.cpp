// zrtool scan: the readers this machine can reach, as INI sections ready to paste. A
// candidate counts when it answers a query that only reads (ZRGetReaderState); nothing is
// ever written to a reader.
#include <atomic>
#include <cstdlib>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform.h"
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

constexpr std::uint16_t kReaderPort = 7086;
constexpr int kBatch = 64;        // connects at a time: what select() takes on Windows
constexpr int kConfirmMs = 3000;  // the confirmations, all at once: open, query, close
constexpr int kConfirmThreads = 32;

struct Candidate {
    Candidate(std::string t, std::string p, std::string h, std::string w)
        : type(std::move(t)), port(std::move(p)), host(std::move(h)), where(std::move(w)) {}
    std::string type, port, host;  // as the INI keys want them
    std::uint16_t tcp_port = kReaderPort;
    std::string where;             // for people: "127.1.2.3:7086", "/dev/ttyUSB0"
    // Filled by the confirmation.
    bool done = false;
    int result = 0;
    std::string state;
};

// "A.B.C.D/N" with N 24 to 30: the host addresses of the network, without its own address
// and its broadcast address.
bool hosts_of(const std::string& text, std::vector<std::uint32_t>& hosts) {
    unsigned a, b, c, d, n;
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u/%u%c", &a, &b, &c, &d, &n, &tail) != 5) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255 || n < 24 || n > 30) return false;
    const std::uint32_t mask = ~0u << (32 - n);
    const std::uint32_t net = ((a << 24) | (b << 16) | (c << 8) | d) & mask;
    for (std::uint32_t h = 1; h < (~mask); ++h) hosts.push_back(net | h);
    return true;
}

std::string dotted(std::uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." + std::to_string((a >> 8) & 255) +
           "." + std::to_string(a & 255);
}

// Opens a session to the candidate through a settings file of its own, asks for the
// reader's state and closes again.
void confirm(Candidate& c, const std::string& ini) {
    int handle = -1;
    c.result = ZROpen(&handle, ini.c_str(), "scan");
    if (c.result != ZR_OK) return;
    unsigned char state[16] = {};
    c.result = ZRGetReaderState(handle, 0, state);
    if (c.result == ZR_OK) c.state = hex(state, 6);
    ZRClose(&handle);
}

// A comma-separated list: its parts, empty ones left out.
std::vector<std::string> split_list(const std::string& list) {
    std::vector<std::string> parts;
    for (std::size_t i = 0; i <= list.size();) {
        auto end = list.find(',', i);
        if (end == std::string::npos) end = list.size();
        if (end > i) parts.push_back(list.substr(i, end - i));
        i = end + 1;
    }
    return parts;
}

int scan(Call& call) {
    const auto started = std::chrono::steady_clock::now();
    const int limit = call.integer("limit");
    std::vector<std::uint32_t> hosts;
    if (call.given("subnet") && !hosts_of(call.text("subnet"), hosts)) {
        std::fprintf(stderr, "zrtool: scan: --subnet wants A.B.C.D/N with N from 24 to 30, not '%s'\n",
                     call.text("subnet").c_str());
        return kExitUsage;
    }
    std::vector<std::uint16_t> tcp_ports;
    for (const auto& p : split_list(call.text("tcp-ports"))) {
        char* end = nullptr;
        const long n = std::strtol(p.c_str(), &end, 10);
        if (*end != '\0' || n < 1 || n > 65535) {
            std::fprintf(stderr, "zrtool: scan: --tcp-ports wants port numbers from 1 to 65535, not '%s'\n", p.c_str());
            return kExitUsage;
        }
        tcp_ports.push_back(static_cast<std::uint16_t>(n));
    }
    const std::vector<std::string> ports =
        call.given("ports") ? split_list(call.text("ports")) : os::serial_candidates();
    const int batches = static_cast<int>((hosts.size() + kBatch - 1) / kBatch * tcp_ports.size());
    const int bound_ms = batches * limit + kConfirmMs;

    std::vector<std::shared_ptr<Candidate>> candidates;
    for (const auto& p : ports) candidates.push_back(std::make_shared<Candidate>("COM", p, "127.0.0.1", p));
    for (const auto tcp_port : tcp_ports) {
        const auto answers = os::tcp_answers(hosts, tcp_port, limit, kBatch);
        for (std::size_t i = 0; i < hosts.size(); ++i)
            if (answers[i]) {
                const auto a = dotted(hosts[i]);
                candidates.push_back(
                    std::make_shared<Candidate>("TCP", "COM1", a, a + ":" + std::to_string(tcp_port)));
                candidates.back()->tcp_port = tcp_port;
            }
    }

    // Each candidate's settings file; whole reply timing, so that a reader's answer ends the
    // wait at once.
    const std::string dir = os::make_temp_dir("zrtool-scan");
    if (dir.empty()) {
        std::fprintf(stderr, "zrtool: scan: cannot create a temporary directory\n");
        return kExitFailed;
    }
    std::vector<std::string> inis;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        inis.push_back(dir + "/" + std::to_string(i) + ".ini");
        std::ofstream(inis.back(), std::ios::binary)
            << "[scan]\nZR_PORT_TYPE=" << candidates[i]->type << "\nZR_COM_NUMBER=" << candidates[i]->port
            << "\nZR_HOST_NAME=" << candidates[i]->host << "\nZR_TCP_PORT=" << candidates[i]->tcp_port
            << "\nZR_REPLY_TIMING=whole\n";
    }

    // A few workers take the candidates in turn; what has not finished by the bound counts
    // as not found.
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        std::size_t next = 0, finished = 0;
    };
    auto shared = std::make_shared<Shared>();
    const std::size_t workers = std::min<std::size_t>(candidates.size(), kConfirmThreads);
    for (std::size_t w = 0; w < workers; ++w)
        std::thread([shared, candidates, inis] {
            for (;;) {
                std::size_t i;
                {
                    std::lock_guard<std::mutex> lock(shared->m);
                    if (shared->next == candidates.size()) return;
                    i = shared->next++;
                }
                Candidate result = *candidates[i];
                confirm(result, inis[i]);
                std::lock_guard<std::mutex> lock(shared->m);
                *candidates[i] = result;
                candidates[i]->done = true;
                ++shared->finished;
                shared->cv.notify_all();
            }
        }).detach();
    bool all_done;
    std::vector<Candidate> found;
    std::size_t unanswered = 0;
    {
        std::unique_lock<std::mutex> lock(shared->m);
        all_done = shared->cv.wait_until(lock, started + std::chrono::milliseconds(bound_ms),
                                         [&] { return shared->finished == candidates.size(); });
        for (const auto& c : candidates) {
            if (c->done && (c->result == ZR_OK || c->result > 1)) found.push_back(*c);
            unanswered += !c->done;
        }
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    if (call.json()) {
        auto readers = Json::array();
        for (std::size_t i = 0; i < found.size(); ++i) {
            auto j = Json::object();
            j.set("section", "reader" + std::to_string(i + 1));
            j.set("ZR_PORT_TYPE", found[i].type);
            j.set("ZR_COM_NUMBER", found[i].port);
            j.set("ZR_HOST_NAME", found[i].host);
            if (found[i].tcp_port != kReaderPort) j.set("ZR_TCP_PORT", static_cast<long long>(found[i].tcp_port));
            j.set("where", found[i].where);
            j.set("result", found[i].result);
            if (!found[i].state.empty()) j.set("state", found[i].state);
            readers.push(j);
        }
        std::printf("%s\n", Json::object()
                                .set("verb", "scan")
                                .set("readers", readers)
                                .set("tried", static_cast<long long>(ports.size() + hosts.size() * tcp_ports.size()))
                                .set("milliseconds", static_cast<long long>(took * 1000))
                                .set("bound_milliseconds", static_cast<long long>(bound_ms))
                                .set("success", true)
                                .dump()
                                .c_str());
    } else {
        std::printf("; zrtool scan: %zu reader%s of %zu serial port%s and %zu host%s, in %.1f s (bound %.1f s)\n",
                    found.size(), found.size() == 1 ? "" : "s", ports.size(), ports.size() == 1 ? "" : "s",
                    hosts.size(), hosts.size() == 1 ? "" : "s", took, bound_ms / 1000.0);
        for (std::size_t i = 0; i < found.size(); ++i) {
            const auto& c = found[i];
            std::printf("\n[reader%zu]\n; %s: %s%s\nZR_PORT_TYPE=%s\nZR_COM_NUMBER=%s\nZR_HOST_NAME=%s\n", i + 1,
                        c.where.c_str(), describe(c.result, Kind::status).c_str(),
                        c.state.empty() ? "" : (", state " + c.state).c_str(), c.type.c_str(), c.port.c_str(),
                        c.host.c_str());
            if (c.tcp_port != kReaderPort) std::printf("ZR_TCP_PORT=%u\n", static_cast<unsigned>(c.tcp_port));
        }
    }
    std::fflush(stdout);
    if (!all_done) {
        std::fprintf(stderr, "zrtool: scan: %zu candidate%s still had no answer at the bound\n", unanswered,
                     unanswered == 1 ? "" : "s");
        // Sessions still in the library would delay the exit past the bound.
        std::fflush(stderr);
        std::_Exit(kExitOk);
    }
    for (const auto& f : inis) os::remove_file_now(f.c_str());
    os::remove_dir_now(dir.c_str());
    return kExitOk;
}

const VerbGroup kScan(
    92, "Finding readers",
    {
        {"scan",
         "",
         "find readers on the serial ports and, with --subnet, on a network, each confirmed by a query "
         "that only reads; prints them as INI sections",
         {text_arg("subnet", "", "A.B.C.0/24 (prefix 24 to 30): also the hosts of this network on the reader port"),
          text_arg("tcp-ports", "7086", "with --subnet: the TCP ports to try on each host, comma-separated"),
          text_arg("ports", "", "the serial ports to try, comma-separated, instead of those this machine has"),
          int_arg("limit", "300", "milliseconds a TCP connection may take to come up", 10, 5000)},
         "zrtool scan --ports /dev/null",
         scan,
         Kind::tool,
         false},
    });

}  // namespace
}  // namespace zrtool
