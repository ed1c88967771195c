// zrgate: drives every reader of a site and publishes their tag events and states to the
// site's MQTT broker. One worker thread (and library session) per reader; one MQTT client.
#include <mosquitto.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "publisher.h"
#include "text.h"
#include "tls.h"
#include "worker.h"
#include "zr.h"

namespace {

using namespace zrgate;
using Steady = std::chrono::steady_clock;

const char* kUsage =
    "usage: zrgate [--check] FILE.ini\n"
    "\n"
    "Runs continuous inventories on every reader of FILE.ini and publishes tag events and\n"
    "reader states to an MQTT broker: one worker (and library session) per reader, one MQTT\n"
    "client. A broker that is away is retried with back-off and events wait in a bounded queue.\n"
    "\n"
    "Options:\n"
    "  --check     check FILE.ini (and the TLS files it names), print what the gateway would\n"
    "              do, and exit (0: good)\n"
    "  --help      this text\n"
    "  --version   the gateway's, the library's and libmosquitto's versions\n"
    "\n"
    "Keys of [gateway]:\n"
    "  site                the site's name, one topic level (required)\n"
    "  broker, port        the MQTT broker (localhost, 1883)\n"
    "  client_id           the MQTT client id (zrgate-SITE)\n"
    "  credentials         a file whose first line is USER:PASSWORD; a warning when group or\n"
    "                      others may read it\n"
    "  strict_permissions  true: refuse such a credentials file, or a key_file, instead\n"
    "  ca_file             PEM certificate(s) of the CA the broker's certificate must come from:\n"
    "                      turns TLS on; the broker's name must match its certificate\n"
    "  cert_file, key_file\n"
    "                      a PEM client certificate and its private key, for brokers that ask\n"
    "                      for one (both or neither; with ca_file)\n"
    "  qos                 0, 1 or 2 for tag events (1)\n"
    "  topic_prefix        the first topic levels (zr)\n"
    "  events              presence (arrived/departed, the default) or reads (every read)\n"
    "  window_ms           presence: a tag departs after this long unseen (5000)\n"
    "  queue_bound         events held while the broker is away (100000); beyond, dropped and\n"
    "                      counted\n"
    "  stats_every_s       statistics period on the stats topic, 0: never (60)\n"
    "  keepalive_s         MQTT keep-alive (30)\n"
    "  retry_min_ms, retry_max_ms\n"
    "                      back-off bounds for readers and the broker (1000, 30000)\n"
    "  shutdown_flush_ms   time to deliver the queue when stopping (5000)\n"
    "\n"
    "Keys of a reader's section [NAME]:\n"
    "  the library's own (ZR_PORT_TYPE, ZR_HOST_NAME, ZR_COM_NUMBER, ZR_TCP_PORT,\n"
    "  ZR_REPLY_TIMING, ...), and inventory (epc|tid), antennas (1,2,...), pause_ms,\n"
    "  quiet_ms, tid_password (8 hex digits).\n"
    "\n"
    "Topics:\n"
    "  PREFIX/SITE/status         the gateway: online or offline (retained; the last will says\n"
    "                             offline); online with broker_error: why the broker could not be\n"
    "                             reached before (TLS, password), also said on stderr at the time\n"
    "  PREFIX/SITE/stats          statistics every stats_every_s\n"
    "  PREFIX/SITE/NAME/status    a reader's state (retained)\n"
    "  PREFIX/SITE/NAME/tags      its tag events (arrived, departed or read; dropped notices),\n"
    "                             JSON with a sequence number\n"
    "\n"
    "Signals:\n"
    "  SIGTERM, SIGINT   stop cleanly: statuses offline, the queue flushed within\n"
    "                    shutdown_flush_ms\n"
    "  SIGUSR1           print the statistics to stderr\n"
    "\n"
    "Exit status:\n"
    "  0   stopped by a signal, or --check found the file good\n"
    "  1   the MQTT client could not be set up\n"
    "  2   a usage error, or FILE.ini (or a file it names) is not usable\n";

// Reads per second since the previous call for the same sink.
struct Rates {
    std::vector<std::uint64_t> reads;
    Steady::time_point at = Steady::now();
};

struct Stats {
    Publisher::Counters broker;
    std::vector<Worker::Snapshot> readers;
    std::vector<double> rates;
};

Stats collect(Publisher& publisher, const std::vector<std::unique_ptr<Worker>>& workers, Rates& rates) {
    Stats s;
    s.broker = publisher.counters();
    const auto now = Steady::now();
    const double seconds = std::max(1e-3, std::chrono::duration<double>(now - rates.at).count());
    rates.reads.resize(workers.size());
    for (std::size_t i = 0; i < workers.size(); ++i) {
        s.readers.push_back(workers[i]->snapshot());
        s.rates.push_back(static_cast<double>(s.readers[i].reads - rates.reads[i]) / seconds);
        rates.reads[i] = s.readers[i].reads;
    }
    rates.at = now;
    return s;
}

std::string stats_json(const GatewayConfig& c, const Stats& s, Steady::time_point started) {
    char rate[32];
    std::string j = "{\"time\":\"" + utc_now() + "\",\"uptime_s\":" +
                    std::to_string(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - started).count()) +
                    ",\"broker_connected\":" + (s.broker.connected ? "true" : "false") +
                    ",\"broker_connects\":" + std::to_string(s.broker.connects) +
                    ",\"events_published\":" + std::to_string(s.broker.published) +
                    ",\"queue_depth\":" + std::to_string(s.broker.queued) +
                    ",\"in_flight\":" + std::to_string(s.broker.in_flight) +
                    ",\"dropped\":" + std::to_string(s.broker.dropped) + ",\"readers\":{";
    for (std::size_t i = 0; i < s.readers.size(); ++i) {
        const auto& r = s.readers[i];
        std::snprintf(rate, sizeof rate, "%.1f", s.rates[i]);
        j += (i ? "," : "") + json_string(c.readers[i].name) + ":{\"state\":\"" + r.state + "\",\"reads\":" +
             std::to_string(r.reads) + ",\"reads_per_s\":" + rate + ",\"events\":" + std::to_string(r.events) +
             ",\"reconnects\":" + std::to_string(r.reconnects) +
             ",\"dropped\":" + std::to_string(s.broker.dropped_by_reader[i]) + "}";
    }
    return j + "}}";
}

void print_stats(const GatewayConfig& c, const Stats& s) {
    std::fprintf(stderr, "zrgate stats %s: broker %s (%llu connects), %llu events published, queue %zu (+%zu in flight), %llu dropped\n",
                 utc_now().c_str(), s.broker.connected ? "connected" : "away",
                 static_cast<unsigned long long>(s.broker.connects), static_cast<unsigned long long>(s.broker.published),
                 s.broker.queued, s.broker.in_flight, static_cast<unsigned long long>(s.broker.dropped));
    for (std::size_t i = 0; i < s.readers.size(); ++i) {
        const auto& r = s.readers[i];
        std::fprintf(stderr, "  %-16s %-12s %8.1f reads/s %10llu reads %8llu events %5llu reconnects %6llu dropped\n",
                     c.readers[i].name.c_str(), r.state.c_str(), s.rates[i], static_cast<unsigned long long>(r.reads),
                     static_cast<unsigned long long>(r.events), static_cast<unsigned long long>(r.reconnects),
                     static_cast<unsigned long long>(s.broker.dropped_by_reader[i]));
    }
}

struct MosquittoLibrary {
    MosquittoLibrary() { mosquitto_lib_init(); }
    ~MosquittoLibrary() { mosquitto_lib_cleanup(); }
};

}  // namespace

int main(int argc, char** argv) {
    bool check_only = false;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            int major = 0, minor = 0, revision = 0;
            mosquitto_lib_version(&major, &minor, &revision);
            std::printf("zrgate %s, library %s, libmosquitto %d.%d.%d\n", ZR_VERSION_STRING, ZRVersion(), major, minor,
                        revision);
            return 0;
        }
        if (a == "--check") check_only = true;
        else if (!a.empty() && a[0] == '-') {
            std::fprintf(stderr, "zrgate: unknown option '%s'\n%s", a.c_str(), kUsage);
            return 2;
        } else if (file.empty()) file = a;
        else {
            std::fprintf(stderr, "zrgate: one configuration file only\n%s", kUsage);
            return 2;
        }
    }
    if (file.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    std::vector<std::string> errors;
    GatewayConfig config = load_config(file, errors);
    if (errors.empty()) {
        // The TLS files as OpenSSL reads them: a wrong one is named now, not at each connection.
        for (auto& e : check_tls_files(config, config.warnings)) errors.push_back(file + ": [gateway] " + e);
    }
    for (const auto& w : config.warnings) std::fprintf(stderr, "zrgate: %s\n", w.c_str());
    if (!errors.empty()) {
        for (const auto& e : errors) std::fprintf(stderr, "zrgate: %s\n", e.c_str());
        std::fprintf(stderr, "zrgate: %zu error(s) in %s; %s\n", errors.size(), file.c_str(),
                     check_only ? "not a usable configuration" : "not started");
        return 2;
    }
    if (check_only) {
        std::printf("%s: good\n%s", file.c_str(), describe(config).c_str());
        return 0;
    }

    // The signals are taken by this thread alone: every thread started below inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    for (int s : {SIGTERM, SIGINT, SIGUSR1, SIGHUP}) sigaddset(&signals, s);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    MosquittoLibrary mosquitto_library;
    const auto started = Steady::now();
    Publisher publisher(config);
    std::string error;
    if (!publisher.start(error)) {
        std::fprintf(stderr, "zrgate: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "zrgate: site %s, %zu reader(s), broker %s:%d\n", config.site.c_str(), config.readers.size(),
                 config.broker.c_str(), config.port);

    StopSignal stop;
    std::vector<std::unique_ptr<Worker>> workers;
    for (std::size_t i = 0; i < config.readers.size(); ++i) {
        workers.push_back(std::make_unique<Worker>(config, i, publisher, stop));
        workers.back()->start();
    }

    Rates topic_rates, signal_rates;
    const auto stats_topic = config.site_topic() + "/stats";
    const auto period = std::chrono::seconds(config.stats_every_s);
    auto next_stats = Steady::now() + period;
    for (;;) {
        const auto wait = config.stats_every_s > 0 ? std::max(Steady::duration::zero(), next_stats - Steady::now())
                                                   : std::chrono::seconds(3600);
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        const int s = sigtimedwait(&signals, nullptr, &ts);
        if (s == SIGTERM || s == SIGINT) break;
        if (s == SIGUSR1) print_stats(config, collect(publisher, workers, signal_rates));
        if (config.stats_every_s > 0 && Steady::now() >= next_stats) {
            publisher.transient(stats_topic, stats_json(config, collect(publisher, workers, topic_rates), started));
            next_stats += period;
        }
    }

    // Stop: the workers close their sessions and set their readers offline, then the queue
    // gets what is left of the bound to drain.
    std::fprintf(stderr, "zrgate: stopping\n");
    const auto deadline = Steady::now() + std::chrono::milliseconds(config.shutdown_flush_ms);
    stop.request();
    {
        std::unique_lock lock(stop.mutex);
        stop.wake.wait_until(lock, deadline, [&] {
            for (const auto& w : workers)
                if (!w->done()) return false;
            return true;
        });
    }
    bool stuck = false;
    for (const auto& w : workers) stuck = stuck || !w->done();
    const auto left = publisher.stop(std::max(std::chrono::milliseconds(0),
                                              std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now())));
    if (left) std::fprintf(stderr, "zrgate: %zu event(s) not delivered: the broker did not take them in time\n", left);
    print_stats(config, collect(publisher, workers, signal_rates));
    if (stuck) {
        // A reader call still running (a connect can take 10 s) must not hold the stop up:
        // everything it could report is out, so the process ends without waiting for it.
        std::fprintf(stderr, "zrgate: a reader call is still running; exiting without it\n");
        std::fflush(stderr);
        std::_Exit(0);
    }
    return 0;
}
