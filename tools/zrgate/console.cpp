#include "console.h"

#include <map>

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "console_page.h"  // kConsolePage: console_page.html, embedded by CMake
#include "text.h"

namespace zrgate {
namespace {

using Steady = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kTagsInState = 2000;  // a page of a big site's tags; the count says how many
constexpr auto kKeepAlive = 15s;            // a comment on an idle stream, so that proxies keep it

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// A Prometheus label value: backslash, double quote and line feed escaped.
std::string label(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

// Compares without stopping at the first difference, so that timing says nothing of the token.
bool same_secret(const std::string& a, const std::string& b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i % std::max<std::size_t>(b.size(), 1)]);
    return diff == 0;
}

MHD_Result send(MHD_Connection* c, unsigned status, const std::string& body, const char* type,
                std::initializer_list<std::pair<const char*, const char*>> headers = {}) {
    MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    for (const auto& [k, v] : headers) MHD_add_response_header(r, k, v);
    const MHD_Result ok = MHD_queue_response(c, status, r);
    MHD_destroy_response(r);
    return ok;
}

// One /events stream: what is left to write of the last batch, and where it is in the feed.
struct Stream {
    Console* console;
    std::uint64_t after;
    std::string pending;
    std::size_t sent = 0;
};

ssize_t stream_more(void* cls, std::uint64_t, char* buf, std::size_t max) {
    auto* s = static_cast<Stream*>(cls);
    while (s->sent == s->pending.size()) {
        s->pending.clear();
        s->sent = 0;
        bool missed = false;
        auto events = s->console->feed().next(s->after, kKeepAlive, missed);
        if (events.empty() && s->console->feed().closed()) return MHD_CONTENT_READER_END_OF_STREAM;
        if (missed) s->pending += "event: overflow\ndata: {}\n\n";
        for (const auto& e : events) s->pending += "event: tag\ndata: " + e + "\n\n";
        if (s->pending.empty()) s->pending = ": keep-alive\n\n";
    }
    const std::size_t n = std::min(max, s->pending.size() - s->sent);
    std::memcpy(buf, s->pending.data() + s->sent, n);
    s->sent += n;
    return static_cast<ssize_t>(n);
}

MHD_Result on_request(void* self, MHD_Connection* c, const char* url, const char* method, const char*, const char*,
                      std::size_t*, void**) {
    return static_cast<MHD_Result>(static_cast<Console*>(self)->answer(c, url, method));
}

}  // namespace

std::string http_library_version() { return std::string("libmicrohttpd ") + MHD_get_version(); }

void EventFeed::push(std::string json) {
    {
        std::lock_guard lock(mutex_);
        ring_.push_back(std::move(json));
        if (ring_.size() > capacity_) ring_.pop_front();
        ++last_;
    }
    wake_.notify_all();
}

std::vector<std::string> EventFeed::next(std::uint64_t& after, std::chrono::milliseconds wait, bool& missed) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, wait, [&] { return closed_ || last_ > after; });
    std::vector<std::string> out;
    const std::uint64_t oldest = last_ - ring_.size() + 1;  // the number of ring_.front()
    missed = after + 1 < oldest && last_ > after;
    for (std::uint64_t n = std::max(after + 1, oldest); n <= last_; ++n) out.push_back(ring_[n - oldest]);
    after = last_;
    return out;
}

void EventFeed::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    wake_.notify_all();
}

std::uint64_t EventFeed::newest() const {
    std::lock_guard lock(mutex_);
    return last_;
}

bool EventFeed::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void History::add(const std::vector<std::pair<Key, double>>& per_series, double events) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<Key, std::deque<double>>> next;
    for (const auto& [key, value] : per_series) {
        auto old = std::find_if(series_.begin(), series_.end(), [&](const auto& s) { return s.first == key; });
        next.emplace_back(key, old != series_.end() ? std::move(old->second) : std::deque<double>(events_.size(), 0.0));
        next.back().second.push_back(value);
        if (next.back().second.size() > kLength) next.back().second.pop_front();
    }
    series_ = std::move(next);
    events_.push_back(events);
    if (events_.size() > kLength) events_.pop_front();
    ++taken_;
}

History::View History::view(std::size_t last) const {
    std::lock_guard lock(mutex_);
    View v{taken_, {}, {}};
    const std::size_t n = std::min(last, events_.size());
    v.events.assign(events_.end() - static_cast<std::ptrdiff_t>(n), events_.end());
    for (const auto& [key, values] : series_)
        v.series.emplace_back(key, std::vector<double>(values.end() - static_cast<std::ptrdiff_t>(n), values.end()));
    return v;
}

const std::vector<double>* History::View::find(const Key& k) const {
    for (const auto& s : series)
        if (s.first == k) return &s.second;
    return nullptr;
}

Console::Console(const GatewayConfig& config, Publisher& publisher, std::function<std::vector<Worker*>()> workers)
    : config_(config), publisher_(publisher), workers_(std::move(workers)) {}

Console::~Console() { stop(); }

void Console::attach(Worker& w) {
    w.observe([this](std::size_t, const std::string& event) {
        // Every read (events = reads) would flood the page: the stream carries presence.
        if (!event.starts_with("{\"event\":\"read\"")) feed_.push(event);
    });
}

bool Console::start(std::string& error) {
    for (auto* w : workers_()) attach(*w);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(config_.http_port));
    ::inet_pton(AF_INET, config_.http_address.c_str(), &address.sin_addr);
    // A thread per connection: an event stream waits on the feed without holding up the others.
    daemon_ = MHD_start_daemon(MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION, 0, nullptr, nullptr,
                               &on_request, this, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_LIMIT, 64u,
                               MHD_OPTION_PER_IP_CONNECTION_LIMIT, 32u, MHD_OPTION_CONNECTION_TIMEOUT, 120u,
                               MHD_OPTION_END);
    if (!daemon_) {
        error = "console: cannot listen on " + config_.http_address + ":" + std::to_string(config_.http_port) + " (" +
                std::strerror(errno) + ")";
        return false;
    }
    sampler_ = std::thread([this] { sample(); });
    return true;
}

void Console::stop() {
    {
        std::lock_guard lock(sampler_mutex_);
        stopping_ = true;
    }
    sampler_wake_.notify_all();
    if (sampler_.joinable()) sampler_.join();
    feed_.close();
    if (daemon_) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

void Console::sample() {
    // The counts of the previous sample, by series and by reader. A reader restarted by a
    // reload counts from 0 again; one new since the previous sample starts from what it has.
    std::map<History::Key, std::uint64_t> last_reads;
    std::map<std::string, std::uint64_t> last_events;
    auto since = [](auto& last, const auto& key, std::uint64_t now, bool& fresh) {
        auto it = last.find(key);
        fresh = it == last.end();
        const std::uint64_t before = fresh ? now : it->second <= now ? it->second : 0;
        return static_cast<double>(now - before);
    };
    bool first = true;
    auto next = Steady::now();
    std::unique_lock lock(sampler_mutex_);
    while (!stopping_) {
        std::vector<std::pair<History::Key, double>> rates;
        std::map<History::Key, std::uint64_t> reads_now;
        std::map<std::string, std::uint64_t> events_now;
        double events = 0;
        bool fresh = false;
        for (auto* w : workers_()) {
            const auto& r = w->reader();
            const auto a = w->antenna_reads();
            for (std::size_t k = 0; k < a.size() && k < r.antennas.size(); ++k) {
                const History::Key key{r.name, r.antennas[k]};
                rates.emplace_back(key, since(last_reads, key, a[k], fresh));
                reads_now[key] = a[k];
            }
            const auto e = w->snapshot().events;
            events += since(last_events, r.name, e, fresh);
            events_now[r.name] = e;
        }
        if (!first) history_.add(rates, events);
        first = false;
        last_reads = std::move(reads_now);
        last_events = std::move(events_now);
        next += 1s;  // on a steady beat, so that a sample is one second's reads
        sampler_wake_.wait_until(lock, next, [&] { return stopping_; });
    }
}

std::string Console::state_json() const {
    const auto broker = publisher_.counters();
    const auto uptime = std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - started_).count();
    const auto recent = history_.view(1);
    std::string j = "{\"time\":\"" + utc_now() + "\",\"site\":" + json_string(config_.site) +
                    ",\"uptime_s\":" + std::to_string(uptime) +
                    ",\"broker\":{\"address\":" + json_string(config_.broker + ":" + std::to_string(config_.port)) +
                    ",\"connected\":" + (broker.connected ? "true" : "false") +
                    ",\"connects\":" + std::to_string(broker.connects) + "}" +
                    ",\"events_published\":" + std::to_string(broker.published) +
                    ",\"queue_depth\":" + std::to_string(broker.queued) +
                    ",\"in_flight\":" + std::to_string(broker.in_flight) +
                    ",\"spool_depth\":" + std::to_string(spool_depth_ ? spool_depth_() : 0) +
                    ",\"dropped\":" + std::to_string(broker.dropped) +
                    ",\"events_per_s\":" + number(recent.events.empty() ? 0 : recent.events.back()) +
                    ",\"samples\":" + std::to_string(recent.samples) + ",\"readers\":[";
    std::string tags;
    std::size_t tag_count = 0, listed = 0;
    const auto workers = workers_();
    for (std::size_t i = 0; i < workers.size(); ++i) {
        const auto& r = workers[i]->reader();
        const auto s = workers[i]->snapshot();
        const auto present = workers[i]->present();
        const auto antenna_reads = workers[i]->antenna_reads();
        const auto slot = workers[i]->slot();
        j += std::string(i ? "," : "") + "{\"name\":" + json_string(r.name) +
             ",\"link\":" + json_string((r.serial ? "serial " : "TCP ") + r.port) + ",\"state\":\"" + s.state +
             "\",\"cause\":" + json_string(s.cause) + ",\"reads\":" + std::to_string(s.reads) +
             ",\"events\":" + std::to_string(s.events) + ",\"reconnects\":" + std::to_string(s.reconnects) +
             ",\"dropped\":" + std::to_string(slot < broker.dropped_by_reader.size() ? broker.dropped_by_reader[slot] : 0) +
             ",\"present\":" + std::to_string(present.size()) + ",\"antennas\":[";
        for (std::size_t k = 0; k < r.antennas.size() && k < antenna_reads.size(); ++k) {
            const auto* series = recent.find({r.name, r.antennas[k]});
            const double rate = !series || series->empty() ? 0 : series->back();
            j += std::string(k ? "," : "") + "{\"antenna\":" + std::to_string(r.antennas[k]) +
                 ",\"reads\":" + std::to_string(antenna_reads[k]) + ",\"reads_per_s\":" + number(rate) + "}";
        }
        j += "]}";
        tag_count += present.size();
        for (const auto& t : present) {
            if (listed++ >= kTagsInState) break;
            tags += std::string(tags.empty() ? "" : ",") + "{\"reader\":" + json_string(r.name) + ",\"id\":\"" + t.id +
                    "\",\"antenna\":" + std::to_string(t.antenna) + ",\"first_seen\":\"" + utc_text(t.first) +
                    "\",\"last_seen\":\"" + utc_text(t.last) + "\",\"reads\":" + std::to_string(t.reads) + "}";
        }
    }
    return j + "],\"id_kind\":\"" + (workers.empty() || workers[0]->reader().inventory == Inventory::epc ? "epc" : "tid") +
           "\",\"presence\":" + (config_.events == Events::presence ? "true" : "false") +
           ",\"tags_present\":" + std::to_string(tag_count) + ",\"tags\":[" + tags + "]}";
}

std::string Console::history_json(std::uint64_t since) const {
    auto v = history_.view();
    // Only the samples numbered `since` and later: a page that has the rest asks for the tail.
    const std::size_t have = v.events.size();
    const std::uint64_t oldest = v.samples - have;
    const std::size_t skip = since > oldest ? static_cast<std::size_t>(std::min<std::uint64_t>(since - oldest, have)) : 0;
    auto list = [&](const std::vector<double>& xs) {
        std::string out = "[";
        for (std::size_t i = skip; i < xs.size(); ++i) out += (i > skip ? "," : "") + number(xs[i]);
        return out + "]";
    };
    std::string j = "{\"interval_s\":1,\"samples\":" + std::to_string(v.samples) +
                    ",\"first\":" + std::to_string(oldest + skip) + ",\"events\":" + list(v.events) + ",\"series\":[";
    // Readers started since the latest sample have their series at once, empty.
    for (const auto* w : workers_())
        for (int antenna : w->reader().antennas)
            if (!v.find({w->reader().name, antenna})) v.series.push_back({{w->reader().name, antenna}, {}});
    for (std::size_t i = 0; i < v.series.size(); ++i)
        j += std::string(i ? "," : "") + "{\"reader\":" + json_string(v.series[i].first.first) +
             ",\"antenna\":" + std::to_string(v.series[i].first.second) + ",\"reads_per_s\":" + list(v.series[i].second) + "}";
    return j + "]}";
}

std::string Console::metrics() const {
    const auto broker = publisher_.counters();
    std::string m;
    auto family = [&](const char* name, const char* type, const char* help) {
        m += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    };
    const auto workers = workers_();
    std::vector<Worker::Snapshot> snaps;
    for (const auto* w : workers) snaps.push_back(w->snapshot());
    auto per_reader = [&](const char* name, const char* type, const char* help, auto value) {
        family(name, type, help);
        for (std::size_t i = 0; i < snaps.size(); ++i)
            m += std::string(name) + "{reader=\"" + label(workers[i]->reader().name) + "\"} " + std::to_string(value(i)) + "\n";
    };
    per_reader("zrgate_reads_total", "counter", "Tag reads by reader.", [&](std::size_t i) { return snaps[i].reads; });
    family("zrgate_antenna_reads_total", "counter", "Tag reads by reader and antenna.");
    for (const auto* w : workers) {
        const auto reads = w->antenna_reads();
        for (std::size_t k = 0; k < reads.size() && k < w->reader().antennas.size(); ++k)
            m += "zrgate_antenna_reads_total{reader=\"" + label(w->reader().name) + "\",antenna=\"" +
                 std::to_string(w->reader().antennas[k]) + "\"} " + std::to_string(reads[k]) + "\n";
    }
    per_reader("zrgate_events_total", "counter", "Tag events (arrived, departed, read) made by reader.",
               [&](std::size_t i) { return snaps[i].events; });
    per_reader("zrgate_drops_total", "counter", "Tag events dropped because the queue was full, by reader.",
               [&](std::size_t i) {
                   const auto slot = workers[i]->slot();
                   return slot < broker.dropped_by_reader.size() ? broker.dropped_by_reader[slot] : 0;
               });
    per_reader("zrgate_reconnects_total", "counter", "Sessions opened again after the reader was lost.",
               [&](std::size_t i) { return snaps[i].reconnects; });
    per_reader("zrgate_reader_online", "gauge", "1 while the reader answers inventories.",
               [&](std::size_t i) { return snaps[i].state == "online" ? 1 : 0; });
    per_reader("zrgate_tags_present", "gauge", "Tags seen within the window, by reader.",
               [&](std::size_t i) { return workers[i]->present().size(); });
    family("zrgate_queue_depth", "gauge", "Tag events waiting for the broker (not yet handed over).");
    m += "zrgate_queue_depth " + std::to_string(broker.queued) + "\n";
    family("zrgate_in_flight", "gauge", "Tag events handed to the broker and not yet acknowledged.");
    m += "zrgate_in_flight " + std::to_string(broker.in_flight) + "\n";
    family("zrgate_spool_depth", "gauge", "Tag events in the durable spool.");
    m += "zrgate_spool_depth " + std::to_string(spool_depth_ ? spool_depth_() : 0) + "\n";
    family("zrgate_broker_connected", "gauge", "1 while the MQTT broker is connected.");
    m += std::string("zrgate_broker_connected ") + (broker.connected ? "1" : "0") + "\n";
    family("zrgate_broker_connects_total", "counter", "Connections made to the broker.");
    m += "zrgate_broker_connects_total " + std::to_string(broker.connects) + "\n";
    family("zrgate_events_published_total", "counter", "Tag events the broker acknowledged.");
    m += "zrgate_events_published_total " + std::to_string(broker.published) + "\n";
    family("zrgate_uptime_seconds", "gauge", "Seconds since the gateway started.");
    m += "zrgate_uptime_seconds " +
         std::to_string(std::chrono::duration_cast<std::chrono::seconds>(Steady::now() - started_).count()) + "\n";
    return m;
}

bool Console::healthy(std::string& why) const {
    if (!publisher_.counters().connected) {
        why = "broker " + config_.broker + ":" + std::to_string(config_.port) + " not connected";
        return false;
    }
    const auto workers = workers_();
    for (const auto* w : workers)
        if (w->snapshot().state == "starting") {
            why = "reader " + w->reader().name + " still starting";
            return false;
        }
    why = "ok: broker connected, " + std::to_string(workers.size()) + " reader state(s) known";
    return true;
}

int Console::answer(MHD_Connection* c, const std::string& url, const std::string& method) {
    if (method != "GET" && method != "HEAD")
        return send(c, MHD_HTTP_METHOD_NOT_ALLOWED, "read only: GET or HEAD\n", "text/plain; charset=utf-8",
                    {{MHD_HTTP_HEADER_ALLOW, "GET, HEAD"}});
    if (!config_.http_token.empty()) {
        const char* header = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
        const char* query = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "token");
        const std::string bearer = "Bearer ";
        std::string given;
        if (header && std::strncmp(header, bearer.c_str(), bearer.size()) == 0) given = header + bearer.size();
        else if (query) given = query;  // the page and EventSource cannot set a header
        if (given.empty() || !same_secret(given, config_.http_token))
            return send(c, MHD_HTTP_UNAUTHORIZED, "a bearer token is needed (Authorization: Bearer TOKEN, or ?token=TOKEN)\n",
                        "text/plain; charset=utf-8", {{MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer realm=\"zrgate\""}});
    }
    if (url == "/" || url == "/index.html")
        return send(c, MHD_HTTP_OK, kConsolePage, "text/html; charset=utf-8",
                    {{"Content-Security-Policy", "default-src 'self'; img-src 'self' data:; style-src 'unsafe-inline'; script-src 'unsafe-inline'"}});
    if (url == "/api/state") return send(c, MHD_HTTP_OK, state_json(), "application/json");
    if (url == "/api/history") {
        const char* since = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "since");
        return send(c, MHD_HTTP_OK, history_json(since ? std::strtoull(since, nullptr, 10) : 0), "application/json");
    }
    if (url == "/metrics") return send(c, MHD_HTTP_OK, metrics(), "text/plain; version=0.0.4; charset=utf-8");
    if (url == "/health") {
        std::string why;
        const bool ok = healthy(why);
        return send(c, ok ? MHD_HTTP_OK : MHD_HTTP_SERVICE_UNAVAILABLE, why + "\n", "text/plain; charset=utf-8");
    }
    if (url == "/events") {
        if (method == "HEAD") return send(c, MHD_HTTP_OK, "", "text/event-stream");
        auto* stream = new Stream{this, 0, "retry: 2000\n\n", 0};
        stream->after = feed_.newest();  // from now on: what happened before is in /api/state
        MHD_Response* r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &stream_more, stream,
                                                            [](void* s) { delete static_cast<Stream*>(s); });
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
        MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        const MHD_Result ok = MHD_queue_response(c, MHD_HTTP_OK, r);
        MHD_destroy_response(r);
        return ok;
    }
    return send(c, MHD_HTTP_NOT_FOUND, "not found: / /api/state /api/history /metrics /health /events\n",
                "text/plain; charset=utf-8");
}

}  // namespace zrgate
