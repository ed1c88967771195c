// The gateway's live console: a read-only HTTP server on [gateway] http = [ADDRESS:]PORT with
// a page (/), a JSON snapshot (/api/state, /api/history), Prometheus metrics (/metrics), a
// health check (/health) and the tag events as server-sent events (/events).
//
// HTTP is GNU libmicrohttpd's (Debian's libmicrohttpd-dev): a small, long-kept library with a
// stable C API that parses every request itself, so that the gateway parses no HTTP by hand.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config.h"
#include "publisher.h"
#include "worker.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace zrgate {

// Tag events for /events: a short ring that every stream reads at its own pace. A stream that
// falls more than the ring behind misses events and is told so (an "overflow" event).
class EventFeed {
public:
    explicit EventFeed(std::size_t capacity = 4096) : capacity_(capacity) {}
    void push(std::string json);
    // Events after `after` (their numbers from after+1), waiting up to `wait` for one; empty
    // when none came or the feed is closed. `missed` says events were lost to the ring.
    std::vector<std::string> next(std::uint64_t& after, std::chrono::milliseconds wait, bool& missed);
    void close();
    bool closed() const;
    std::uint64_t newest() const;  // the number of the latest event

private:
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::string> ring_;
    std::uint64_t last_ = 0;  // the number of the newest event
    bool closed_ = false;
};

// Per-second samples of the last ten minutes: reads per reader and antenna, events in all.
// Series go by (reader, antenna), so that a reload may add and remove readers: a series new to
// a sample has zeros before it, one missing from a sample is gone.
class History {
public:
    static constexpr std::size_t kLength = 600;
    using Key = std::pair<std::string, int>;  // reader, antenna
    void add(const std::vector<std::pair<Key, double>>& per_series, double events);
    struct View {
        std::uint64_t samples;  // taken so far; the newest is number samples-1
        std::vector<std::pair<Key, std::vector<double>>> series;  // oldest first, at most kLength each
        std::vector<double> events;
        const std::vector<double>* find(const Key& k) const;
    };
    View view(std::size_t last = kLength) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<Key, std::deque<double>>> series_;
    std::deque<double> events_;
    std::uint64_t taken_ = 0;
};

// "libmicrohttpd 0.9.75", for --version.
std::string http_library_version();

class Console {
public:
    // `workers` gives the workers running now (a reload changes them); a worker it has once
    // given lives as long as the console.
    Console(const GatewayConfig& config, Publisher& publisher, std::function<std::vector<Worker*>()> workers);
    ~Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Makes the workers report to the feed (call before they start), then listens; false with
    // `error` when the address cannot be taken.
    bool start(std::string& error);
    // Makes a worker started later (by a reload) report to the feed; call before it starts.
    void attach(Worker& w);
    // Ends the event streams and the server.
    void stop();

    // The durable spool's depth, once there is one; absent it is reported as 0.
    void spool_depth(std::function<std::uint64_t()> depth) { spool_depth_ = std::move(depth); }

    // The answers, without HTTP, for the handler (and any other caller).
    std::string state_json() const;
    std::string metrics() const;
    bool healthy(std::string& why) const;

    // One request (libmicrohttpd's handler calls it); an MHD_Result.
    int answer(MHD_Connection* c, const std::string& url, const std::string& method);
    EventFeed& feed() { return feed_; }

private:
    std::string history_json(std::uint64_t since) const;
    void sample();

    const GatewayConfig& config_;
    Publisher& publisher_;
    const std::function<std::vector<Worker*>()> workers_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::function<std::uint64_t()> spool_depth_;
    EventFeed feed_;
    History history_;
    MHD_Daemon* daemon_ = nullptr;

    std::thread sampler_;
    std::mutex sampler_mutex_;
    std::condition_variable sampler_wake_;
    bool stopping_ = false;
};

}  // namespace zrgate
