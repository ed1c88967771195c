// zrgate under load: N simulated readers with M tags each, every read published as an event,
// through one zrgate process to a local mosquitto broker and back to a subscriber here.
// Prints events per second, zrgate's CPU (per 1,000 events and as a share of one core), the
// latency from a report frame leaving the simulator to its event reaching the subscriber
// (median, 99th percentile), and the events lost (report frames sent that never arrived).
//
//   zr_zrgate_bench [--readers 64] [--tags 50] [--seconds 20] [--pause-ms 100] [--events reads|presence]
//                   [--spool on|off]
// --spool on (the gateway's default) commits every event to the spool file before it goes
// out; off keeps the queue in memory only: the two runs side by side give the spool's cost.
// With --events presence (the gateway's default) each tag gives one "arrived" event at the
// start; "lost" then counts tags that never arrived.
#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "population.h"
#include "server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double cpu_seconds(pid_t pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string s((std::istreambuf_iterator<char>(f)), {});
    auto close = s.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream in(s.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& log) {
    pid_t pid = ::fork();
    if (pid == 0) {
        FILE* f = std::fopen(log.c_str(), "w");
        if (f) ::dup2(fileno(f), 1), ::dup2(fileno(f), 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

int free_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

// What the simulators sent and what the subscriber received, per reader.
struct Tally {
    std::mutex mutex;
    std::vector<std::map<std::string, std::deque<Clock::time_point>>> sent;  // EPC -> frame times
    std::vector<std::uint64_t> frames, events;
    std::vector<std::set<long>> seqs;
    std::vector<double> latencies_ms;
    std::uint64_t unmatched = 0;
    Clock::time_point last_event = Clock::now();
    bool presence = false;
    std::set<int> online;
    std::vector<double> baseline_ms;  // the broker and subscriber alone, same bursts
    explicit Tally(int n) : sent(n), frames(n), events(n), seqs(n) {}
};

// "-> 00 10 81 00 <EPC> <CRC>  name": an EPC report with status 0.
void on_trace(Tally& t, int reader, const std::string& line) {
    const auto now = Clock::now();
    if (line.size() < 15 || line.compare(0, 3, "-> ") != 0 || line.compare(9, 5, "81 00") != 0) return;
    auto end = line.find("  ", 3);
    std::string epc;
    for (std::size_t i = 15; i + 1 < end; i += 3) epc += line.substr(i, 2);
    if (epc.size() < 4) return;
    epc.resize(epc.size() - 4);  // the CRC
    std::lock_guard lock(t.mutex);
    ++t.frames[reader];
    t.sent[reader][epc].push_back(now);
}

std::string field(const std::string& json, const std::string& key) {
    auto at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return {};
    at += key.size() + 3;
    if (json[at] == '"') return json.substr(at + 1, json.find('"', at + 1) - at - 1);
    return json.substr(at, json.find_first_of(",}", at) - at);
}

struct Context {
    Tally* tally;
    std::atomic<bool> subscribed{false};
};

void on_message(mosquitto*, void* ctx, const mosquitto_message* m) {
    const auto now = Clock::now();
    auto& t = *static_cast<Context*>(ctx)->tally;
    const std::string payload(static_cast<const char*>(m->payload), m->payloadlen);
    const std::string topic = m->topic;  // zr/bench/rN/tags, zr/bench/rN/status
    if (topic == "zr/bench/baseline") {
        const auto sent = Clock::time_point(Clock::duration(std::atoll(field(payload, "t").c_str())));
        std::lock_guard lock(t.mutex);
        t.baseline_ms.push_back(std::chrono::duration<double, std::milli>(now - sent).count());
        return;
    }
    auto r0 = topic.find("/r");
    if (r0 == std::string::npos) return;
    const int reader = std::atoi(topic.c_str() + r0 + 2);
    if (topic.ends_with("/status")) {
        std::lock_guard lock(t.mutex);
        if (field(payload, "state") == "online") t.online.insert(reader);
        return;
    }
    if (!topic.ends_with("/tags")) return;
    const long seq = std::atol(field(payload, "seq").c_str());
    std::lock_guard lock(t.mutex);
    if (reader < 0 || reader >= static_cast<int>(t.seqs.size()) || !t.seqs[reader].insert(seq).second) return;
    ++t.events[reader];
    t.last_event = now;
    auto& q = t.sent[reader][field(payload, "epc")];
    if (t.presence) {  // an arrival: measured from the tag's first report frame
        if (!q.empty() && field(payload, "event") == "arrived") t.latencies_ms.push_back(std::chrono::duration<double, std::milli>(now - q.front()).count());
        q.clear();
        return;
    }
    if (q.empty()) {
        ++t.unmatched;
        return;
    }
    t.latencies_ms.push_back(std::chrono::duration<double, std::milli>(now - q.front()).count());
    q.pop_front();
}

}  // namespace

int main(int argc, char** argv) {
    int readers = 64, tags = 50, seconds = 20, pause_ms = 100;
    std::string events_mode = "reads", spool = "on";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        const int v = std::atoi(argv[i + 1]);
        if (a == "--events") events_mode = argv[i + 1];
        else if (a == "--spool" && (std::string(argv[i + 1]) == "on" || std::string(argv[i + 1]) == "off")) spool = argv[i + 1];
        else if (a == "--readers") readers = v;
        else if (a == "--tags") tags = v;
        else if (a == "--seconds") seconds = v;
        else if (a == "--pause-ms") pause_ms = v;
        else {
            std::fprintf(stderr, "usage: zr_zrgate_bench [--readers N] [--tags M] [--seconds S] [--pause-ms P] [--events reads|presence] [--spool on|off]\n");
            return 2;
        }
    }
    std::string broker;
    for (const char* p : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto"})
        if (::access(p, X_OK) == 0) broker = p;
    if (broker.empty()) {
        std::fprintf(stderr, "zr_zrgate_bench: mosquitto is not installed (apt-get install mosquitto)\n");
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);
    char tmpl[] = "/tmp/zrgate-bench-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const int port = free_port();
    std::ofstream(dir + "/mosquitto.conf") << "listener " << port << " 127.0.0.1\nallow_anonymous true\nmax_queued_messages 0\nset_tcp_nodelay true\n";
    const pid_t broker_pid = spawn({broker, "-c", dir + "/mosquitto.conf"}, dir + "/mosquitto.log");

    Tally tally(readers);
    tally.presence = events_mode == "presence";
    std::vector<std::unique_ptr<zr::sim::Simulator>> sims;
    std::vector<std::vector<zr::sim::Tag>> populations;
    std::ostringstream ini;
    ini << "[gateway]\nsite=bench\nbroker=127.0.0.1\nport=" << port << "\nevents=" << events_mode << "\nwindow_ms=1000\nstats_every_s=0\nqos=1\n"
        << (spool == "off" ? "spool=off\n" : "") << "\n";
    for (int r = 0; r < readers; ++r) {
        auto sim = std::make_unique<zr::sim::Simulator>();
        const std::string address = "127.88." + std::to_string(r / 250) + "." + std::to_string(1 + r % 250);
        std::string error;
        if (!sim->listen_tcp(address, zr::sim::kReaderPort, error)) {
            std::fprintf(stderr, "zr_zrgate_bench: %s\n", error.c_str());
            return 1;
        }
        // The field stays empty until every reader is online: the measure starts with the tags.
        std::vector<zr::sim::Tag> field;
        for (int t = 0; t < tags; ++t) {
            auto tag = zr::sim::default_tag(static_cast<std::size_t>(t));
            tag.epc = {0x30, 0x08, 0x33, 0xB2, 0, 0, 0, 0, static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(r),
                       static_cast<std::uint8_t>(t >> 8), static_cast<std::uint8_t>(t)};
            field.push_back(tag);
        }
        populations.push_back(field);
        sim->with_model([&](zr::sim::ReaderModel& m) { m.tags.clear(); });
        sim->set_trace([&tally, r](const std::string& line) { on_trace(tally, r, line); });
        sim->start();
        sims.push_back(std::move(sim));
        ini << "[r" << r << "]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" << address << "\npause_ms=" << pause_ms << "\n\n";
    }
    std::ofstream(dir + "/site.ini") << ini.str();

    mosquitto_lib_init();
    Context ctx{&tally};
    mosquitto* sub = mosquitto_new("zrgate-bench-subscriber", true, &ctx);
    mosquitto_int_option(sub, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_message_callback_set(sub, on_message);
    mosquitto_subscribe_callback_set(sub, [](mosquitto*, void* c, int, int, const int*) {
        static_cast<Context*>(c)->subscribed = true;
    });
    mosquitto_connect_callback_set(sub, [](mosquitto* m, void*, int rc) {
        if (rc == 0) mosquitto_subscribe(m, nullptr, "zr/bench/#", 1);
    });
    for (int i = 0; i < 100 && mosquitto_connect(sub, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS; ++i)
        std::this_thread::sleep_for(50ms);
    mosquitto_loop_start(sub);
    while (!ctx.subscribed) std::this_thread::sleep_for(10ms);

    // Baseline: the same bursts (one event per tag of every reader at once) published straight
    // to the broker, so that what the gateway adds can be told from what MQTT itself takes.
    {
        mosquitto* pub = mosquitto_new("zrgate-bench-baseline", true, nullptr);
        mosquitto_int_option(pub, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_max_inflight_messages_set(pub, 100);
        mosquitto_connect(pub, "127.0.0.1", port, 60);
        mosquitto_loop_start(pub);
        std::this_thread::sleep_for(200ms);
        const std::string pad(60, 'x');  // about an event's size
        for (int burst = 0; burst < 3; ++burst) {
            for (int i = 0; i < readers * tags; ++i) {
                const std::string p = "{\"t\":" + std::to_string(Clock::now().time_since_epoch().count()) + ",\"pad\":\"" + pad + "\"}";
                mosquitto_publish(pub, nullptr, "zr/bench/baseline", static_cast<int>(p.size()), p.data(), 1, false);
            }
            std::this_thread::sleep_for(1s);
        }
        mosquitto_disconnect(pub);
        mosquitto_loop_stop(pub, false);
        mosquitto_destroy(pub);
    }

    const std::string gate_path = ZRGATE_PATH;
    const pid_t gate = spawn({gate_path, dir + "/site.ini"}, dir + "/zrgate.log");
    for (auto until = Clock::now() + 60s; Clock::now() < until;) {
        std::this_thread::sleep_for(50ms);
        std::lock_guard lock(tally.mutex);
        if (static_cast<int>(tally.online.size()) == readers) break;
    }
    auto total = [&](const std::vector<std::uint64_t>& v) {
        std::lock_guard lock(tally.mutex);
        std::uint64_t n = 0;
        for (auto x : v) n += x;
        return n;
    };
    const auto t0 = Clock::now();
    const double cpu0 = cpu_seconds(gate), broker_cpu0 = cpu_seconds(broker_pid);
    const auto events0 = total(tally.events);
    for (std::size_t r = 0; r < sims.size(); ++r)
        sims[r]->with_model([&](zr::sim::ReaderModel& m) { m.tags = populations[r]; });
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const auto t1 = Clock::now();
    const double cpu1 = cpu_seconds(gate), broker_cpu1 = cpu_seconds(broker_pid);
    const auto events1 = total(tally.events);

    // The readers fall silent (no tag in the field); whatever is on its way arrives.
    for (auto& s : sims) s->with_model([](zr::sim::ReaderModel& m) { m.tags.clear(); });
    {
        std::lock_guard lock(tally.mutex);
        tally.last_event = Clock::now();
    }
    for (;;) {  // departures come a window (1 s) after the last read
        std::this_thread::sleep_for(500ms);
        std::lock_guard lock(tally.mutex);
        if (Clock::now() - tally.last_event > 3s) break;
    }
    ::kill(gate, SIGTERM);
    int status = 0;
    ::waitpid(gate, &status, 0);
    const auto frames = total(tally.frames), events = total(tally.events);

    const double wall = std::chrono::duration<double>(t1 - t0).count();
    const double n = static_cast<double>(events1 - events0);
    std::vector<double> lat;
    std::uint64_t unmatched;
    {
        std::lock_guard lock(tally.mutex);
        lat = tally.latencies_ms;
        unmatched = tally.unmatched;
    }
    std::printf("zrgate bench: %d readers x %d tags, %s, QoS 1, spool %s, %d ms between rounds, %.1f s measured\n",
                readers, tags, tally.presence ? "arrived/departed events" : "every read an event", spool.c_str(), pause_ms,
                wall);
    std::printf("  events/s:                 %.0f\n", n / wall);
    std::printf("  zrgate CPU:               %.1f %% of one core, %.2f ms per 1,000 events\n",
                100.0 * (cpu1 - cpu0) / wall, 1000.0 * 1000.0 * (cpu1 - cpu0) / std::max(1.0, n));
    std::printf("  broker CPU (for scale):   %.1f %% of one core\n", 100.0 * (broker_cpu1 - broker_cpu0) / wall);
    std::printf("  latency frame->subscriber: median %.2f ms, p99 %.2f ms, max %.2f ms (%zu events)\n",
                zr::bench::median(lat), zr::bench::percentile(lat, 0.99),
                lat.empty() ? 0.0 : *std::max_element(lat.begin(), lat.end()), lat.size());
    const long long expected = tally.presence ? 2LL * readers * tags : static_cast<long long>(frames);  // arrived + departed
    std::vector<double> base;
    {
        std::lock_guard lock(tally.mutex);
        base = tally.baseline_ms;
    }
    std::printf("  baseline, bursts of %d straight to the broker: median %.2f ms, p99 %.2f ms (%zu messages)\n",
                readers * tags, zr::bench::median(base), zr::bench::percentile(base, 0.99), base.size());
    std::printf("  report frames sent %llu, events expected %lld, received %llu, lost %lld, unmatched %llu; zrgate exit %d\n",
                static_cast<unsigned long long>(frames), expected, static_cast<unsigned long long>(events),
                expected - static_cast<long long>(events), static_cast<unsigned long long>(unmatched),
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    // The gateway's own account: its last statistics and anything it could not deliver.
    std::ifstream log(dir + "/zrgate.log");
    for (std::string line; std::getline(log, line);)
        if (line.find("zrgate stats") != std::string::npos || line.find("not delivered") != std::string::npos ||
            line.find("lost the broker") != std::string::npos)
            std::printf("  zrgate: %s\n", line.c_str());

    mosquitto_disconnect(sub);
    mosquitto_loop_stop(sub, false);
    mosquitto_destroy(sub);
    mosquitto_lib_cleanup();
    ::kill(broker_pid, SIGTERM);
    ::waitpid(broker_pid, &status, 0);
    sims.clear();
    std::filesystem::remove_all(dir);
    return 0;
}
