// zrgate: drives every reader of a site and publishes their tag events and states to the
// site's MQTT broker. One worker thread (and library session) per reader; one MQTT client.
#include <mosquitto.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config.h"
#include "discovery.h"
#include "console.h"
#include "publisher.h"
#include "spool.h"
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
    "client. A broker that is away is retried with back-off; events wait for it in the spool.\n"
    "\n"
    "Options:\n"
    "  --check     check FILE.ini (and the TLS files it names), print what the gateway would\n"
    "              do, and exit (0: good)\n"
    "  --help      this text\n"
    "  --version   the versions of the gateway, the library, libmosquitto and libmicrohttpd\n"
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
    "  spool               the file (SQLite) where events wait until the broker has them, kept\n"
    "                      across restarts and sent first by the next run (SITE.db beside\n"
    "                      FILE.ini); off: in memory only\n"
    "  spool_bound         events kept in the spool (1000000); beyond, dropped and counted\n"
    "  queue_bound         events held in memory (100000); without a spool, beyond it they\n"
    "                      are dropped and counted\n"
    "  stats_every_s       statistics period on the stats topic, 0: never (60)\n"
    "  keepalive_s         MQTT keep-alive (30); also the longest a connection attempt\n"
    "                      that the broker never answers is waited for\n"
    "  retry_min_ms, retry_max_ms\n"
    "                      back-off bounds for readers and the broker (1000, 30000)\n"
    "  shutdown_flush_ms   time to deliver the queue when stopping (5000)\n"
    "  http                [ADDRESS:]PORT: a read-only live console (127.0.0.1 unless an\n"
    "                      address is given): / the page, /api/state JSON, /metrics for\n"
    "                      Prometheus, /health (200, or 503 with the reason), /events\n"
    "                      (server-sent tag events); off unless set\n"
    "  http_token          a file whose first line is a token: every request then needs\n"
    "                      'Authorization: Bearer TOKEN' (or ?token=)\n"
    "  discovery           homeassistant: announce each reader for Home Assistant's MQTT\n"
    "                      discovery (none)\n"
    "  discovery_prefix    the topic prefix of discovery (homeassistant)\n"
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
    "                             JSON with the reader's seq (never reused) and the gateway's run\n"
    "\n"
    "Signals:\n"
    "  SIGTERM, SIGINT   stop cleanly: statuses offline, the queue flushed within\n"
    "                    shutdown_flush_ms, the rest kept in the spool\n"
    "  SIGUSR1           print the statistics to stderr\n"
    "  SIGHUP            read FILE.ini again: readers added, removed or changed are started,\n"
    "                    stopped or restarted, the others go on undisturbed ([gateway] changes\n"
    "                    wait for the next start); a file with mistakes is refused, each one\n"
    "                    printed, and the running configuration kept\n"
    "\n"
    "Exit status:\n"
    "  0   stopped by a signal, or --check found the file good\n"
    "  1   the MQTT client, the spool or the console could not be set up\n"
    "  2   a usage error, or FILE.ini (or a file it names) is not usable\n";

using Workers = std::vector<std::unique_ptr<Worker>>;

// Reads per second since the previous call for the same sink, by reader.
struct Rates {
    std::map<std::string, std::uint64_t> reads;
    Steady::time_point at = Steady::now();
};

struct Stats {
    Publisher::Counters broker;
    std::vector<std::string> names;
    std::vector<Worker::Snapshot> readers;
    std::vector<double> rates;
    std::vector<std::uint64_t> dropped;
};

Stats collect(Publisher& publisher, const Workers& workers, Rates& rates) {
    Stats s;
    s.broker = publisher.counters();
    const auto now = Steady::now();
    const double seconds = std::max(1e-3, std::chrono::duration<double>(now - rates.at).count());
    std::map<std::string, std::uint64_t> reads;
    for (const auto& w : workers) {
        const auto& name = w->reader().name;
        s.names.push_back(name);
        s.readers.push_back(w->snapshot());
        // A reader restarted by a reload counts from 0 again.
        const auto before = rates.reads.count(name) && rates.reads[name] <= s.readers.back().reads ? rates.reads[name] : 0;
        s.rates.push_back(static_cast<double>(s.readers.back().reads - before) / seconds);
        s.dropped.push_back(w->slot() < s.broker.dropped_by_reader.size() ? s.broker.dropped_by_reader[w->slot()] : 0);
        reads[name] = s.readers.back().reads;
    }
    rates.reads = std::move(reads);
    rates.at = now;
    return s;
}

std::string stats_json(const Stats& s, Steady::time_point started) {
    char rate[32];
    std::string j = "{\"time\":\"" + utc_now() + "\",\"uptime_s\":" +
                    std::to_string(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - started).count()) +
                    ",\"broker_connected\":" + (s.broker.connected ? "true" : "false") +
                    ",\"broker_connects\":" + std::to_string(s.broker.connects) +
                    ",\"events_published\":" + std::to_string(s.broker.published) +
                    ",\"queue_depth\":" + std::to_string(s.broker.queued) +
                    ",\"in_flight\":" + std::to_string(s.broker.in_flight) +
                    ",\"spooled\":" + std::to_string(s.broker.spooled) +
                    ",\"dropped\":" + std::to_string(s.broker.dropped) + ",\"readers\":{";
    for (std::size_t i = 0; i < s.readers.size(); ++i) {
        const auto& r = s.readers[i];
        std::snprintf(rate, sizeof rate, "%.1f", s.rates[i]);
        j += (i ? "," : "") + json_string(s.names[i]) + ":{\"state\":\"" + r.state + "\",\"reads\":" +
             std::to_string(r.reads) + ",\"reads_per_s\":" + rate + ",\"events\":" + std::to_string(r.events) +
             ",\"reconnects\":" + std::to_string(r.reconnects) +
             ",\"dropped\":" + std::to_string(s.dropped[i]) + "}";
    }
    return j + "}}";
}

void print_stats(const Stats& s) {
    std::fprintf(stderr, "zrgate stats %s: broker %s (%llu connects), %llu events published, queue %zu (+%zu in flight), %llu dropped\n",
                 utc_now().c_str(), s.broker.connected ? "connected" : "away",
                 static_cast<unsigned long long>(s.broker.connects), static_cast<unsigned long long>(s.broker.published),
                 s.broker.queued, s.broker.in_flight, static_cast<unsigned long long>(s.broker.dropped));
    for (std::size_t i = 0; i < s.readers.size(); ++i) {
        const auto& r = s.readers[i];
        std::fprintf(stderr, "  %-16s %-12s %8.1f reads/s %10llu reads %8llu events %5llu reconnects %6llu dropped\n",
                     s.names[i].c_str(), r.state.c_str(), s.rates[i], static_cast<unsigned long long>(r.reads),
                     static_cast<unsigned long long>(r.events), static_cast<unsigned long long>(r.reconnects),
                     static_cast<unsigned long long>(s.dropped[i]));
    }
}

// Waits (at most until `deadline`) for every worker of `workers` to be done.
bool all_done(StopSignal& stop, const Workers& workers, Steady::time_point deadline) {
    std::unique_lock lock(stop.mutex);
    return stop.wake.wait_until(lock, deadline, [&] {
        for (const auto& w : workers)
            if (!w->done()) return false;
        return true;
    });
}

// SIGHUP: the readers of the file as it is now. Readers whose section is unchanged keep their
// worker and session; a removed reader's worker stops (its events already made stay queued and
// its seq stays with its name); a changed one stops and starts again with the new section.
// `workers` changes under `workers_mutex`; a console gets the new workers' events.
void reload(const GatewayConfig& running, Publisher& publisher, StopSignal& stop, Workers& workers, Workers& retired,
            std::mutex& workers_mutex, Console* console) {
    std::vector<std::string> errors;
    const GatewayConfig fresh = load_config(running.file, errors);
    if (!errors.empty()) {
        for (const auto& e : errors) std::fprintf(stderr, "zrgate: %s\n", e.c_str());
        std::fprintf(stderr, "zrgate: reload: %zu error(s) in %s; not reloaded, the running configuration kept\n",
                     errors.size(), running.file.c_str());
        return;
    }
    if (fresh.gateway_keys != running.gateway_keys)
        std::fprintf(stderr, "zrgate: reload: [gateway] changes take effect at the next start\n");
    int added = 0, removed = 0, changed = 0, kept = 0;
    Workers stopping;
    std::vector<const ReaderConfig*> starting;
    std::unique_lock lock(workers_mutex);
    for (auto it = workers.begin(); it != workers.end();) {
        const auto& name = (*it)->reader().name;
        auto now = std::find_if(fresh.readers.begin(), fresh.readers.end(), [&](const ReaderConfig& r) { return r.name == name; });
        if (now != fresh.readers.end() && now->keys == (*it)->reader().keys) {
            ++kept, ++it;
            continue;
        }
        if (now == fresh.readers.end()) {
            ++removed;
            (*it)->retire("removed from the configuration");
        } else {
            ++changed;
            (*it)->retire("configuration changed");
            starting.push_back(&*now);
        }
        stopping.push_back(std::move(*it));
        it = workers.erase(it);
    }
    for (const auto& r : fresh.readers) {
        const bool running_now = std::any_of(workers.begin(), workers.end(), [&](const auto& w) { return w->reader().name == r.name; });
        const bool restarting = std::any_of(starting.begin(), starting.end(), [&](const auto* s) { return s->name == r.name; });
        if (!running_now && !restarting) ++added, starting.push_back(&r);
    }
    lock.unlock();
    // A changed reader's old session is closed before the new one opens (one link per reader);
    // a library call that hangs does not hold the reload up for long.
    all_done(stop, stopping, Steady::now() + std::chrono::seconds(5));
    for (auto& w : stopping) retired.push_back(std::move(w));
    for (const auto* r : starting) {
        auto w = std::make_unique<Worker>(running, *r, publisher.add_reader(r->name), publisher, stop);
        if (console) console->attach(*w);
        w->start();
        std::lock_guard relock(workers_mutex);
        workers.push_back(std::move(w));
    }
    std::fprintf(stderr, "zrgate: reloaded %s: %d reader(s) added, %d removed, %d changed, %d unchanged\n",
                 running.file.c_str(), added, removed, changed, kept);
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
            std::printf("zrgate %s, library %s, libmosquitto %d.%d.%d, %s\n", ZR_VERSION_STRING, ZRVersion(), major,
                        minor, revision, http_library_version().c_str());
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
        std::string note;
        if (!config.spool.empty() && !Spool::probe(config.spool, note)) {
            std::fprintf(stderr, "zrgate: spool %s: %s; not a usable configuration\n", config.spool.c_str(), note.c_str());
            return 2;
        }
        std::printf("%s: good\n%s", file.c_str(), describe(config).c_str());
        if (!note.empty()) std::printf("  spool file: %s\n", note.c_str());
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
    std::string error;
    std::unique_ptr<Spool> spool;
    if (!config.spool.empty() && !(spool = Spool::open(config.spool, error))) {
        std::fprintf(stderr, "zrgate: cannot open the spool %s; not started\n", error.c_str());
        return 1;
    }
    if (spool && spool->waiting())
        std::fprintf(stderr, "zrgate: spool %s: %zu event(s) from earlier runs go first\n", config.spool.c_str(),
                     spool->waiting());
    Publisher publisher(config, std::move(spool));
    StopSignal stop;
    Workers workers, retired;  // retired: stopped by a reload, joined when done
    std::mutex workers_mutex;  // `workers` as a reload changes it and the console reads it
    for (const auto& r : config.readers)
        workers.push_back(std::make_unique<Worker>(config, r, publisher.add_reader(r.name), publisher, stop));
    // The console first: a port already taken stops the gateway before anything is published.
    std::unique_ptr<Console> console;
    if (config.http_port) {
        console = std::make_unique<Console>(config, publisher, [&] {
            std::lock_guard lock(workers_mutex);
            std::vector<Worker*> now;
            for (const auto& w : workers) now.push_back(w.get());
            return now;
        });
        console->spool_depth([&publisher] { return static_cast<std::uint64_t>(publisher.counters().spooled); });
        if (!console->start(error)) {
            std::fprintf(stderr, "zrgate: %s\n", error.c_str());
            return 1;
        }
    }
    if (!publisher.start(error)) {
        std::fprintf(stderr, "zrgate: %s\n", error.c_str());
        return 1;
    }
    // Retained, and sent again on every connection like the statuses.
    for (const auto& m : discovery_messages(config)) publisher.status(m.topic, m.payload);
    std::fprintf(stderr, "zrgate: site %s, %zu reader(s), broker %s:%d, run %llu\n", config.site.c_str(),
                 config.readers.size(), config.broker.c_str(), config.port,
                 static_cast<unsigned long long>(publisher.run()));
    if (console)
        std::fprintf(stderr, "zrgate: console on http://%s:%d/\n", config.http_address.c_str(), config.http_port);
    for (auto& w : workers) w->start();

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
        if (s == SIGUSR1) print_stats(collect(publisher, workers, signal_rates));
        if (s == SIGHUP) reload(config, publisher, stop, workers, retired, workers_mutex, console.get());
        std::erase_if(retired, [](const auto& w) { return w->done(); });  // joined by the destructor
        if (config.stats_every_s > 0 && Steady::now() >= next_stats) {
            publisher.transient(stats_topic, stats_json(collect(publisher, workers, topic_rates), started));
            next_stats += period;
        }
    }

    // Stop: the workers close their sessions and set their readers offline, then the queue
    // gets what is left of the bound to drain.
    std::fprintf(stderr, "zrgate: stopping\n");
    const auto deadline = Steady::now() + std::chrono::milliseconds(config.shutdown_flush_ms);
    stop.request();
    all_done(stop, workers, deadline);
    all_done(stop, retired, deadline);
    bool stuck = false;
    for (const auto* set : {&workers, &retired})
        for (const auto& w : *set) stuck = stuck || !w->done();
    const auto left = publisher.stop(std::max(std::chrono::milliseconds(0),
                                              std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now())));
    if (left && !config.spool.empty())
        std::fprintf(stderr, "zrgate: %zu event(s) not delivered yet: kept in the spool %s for the next run\n", left,
                     config.spool.c_str());
    else if (left)
        std::fprintf(stderr, "zrgate: %zu event(s) not delivered: the broker did not take them in time\n", left);
    if (console) console->stop();
    print_stats(collect(publisher, workers, signal_rates));
    if (stuck) {
        // A reader call still running (a connect can take 10 s) must not hold the stop up:
        // everything it could report is out, so the process ends without waiting for it.
        std::fprintf(stderr, "zrgate: a reader call is still running; exiting without it\n");
        std::fflush(stderr);
        std::_Exit(0);
    }
    return 0;
}
