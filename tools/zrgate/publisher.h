// The gateway's side of the broker: one libmosquitto client with its network thread, a
// bounded queue of tag events that holds them while the broker is away, and the retained
// status topics, republished on every connection (a restarted broker may have lost them).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "config.h"

struct mosquitto;

namespace zrgate {

class Publisher {
public:
    Publisher(const GatewayConfig& config);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Sets up the client (last will, credentials, TLS) and starts connecting; a broker that
    // is not there yet is retried in the background. false with `error` when the setup fails.
    bool start(std::string& error);

    // Tag event `seq` of reader `reader` (its index in the configuration). false when the
    // queue is full: the event is dropped and counted, and the reader's tags topic gets a
    // "dropped" notice with the count and the range of numbers once there is room again.
    bool event(std::size_t reader, std::uint64_t seq, std::string payload);
    // A retained status: only the latest per topic is kept until it is out.
    void status(const std::string& topic, std::string payload);
    // Published now if the broker is there, else not at all (stats are periodic).
    void transient(const std::string& topic, std::string payload);

    // Shutdown: waits up to `bound` for the queue to empty, then publishes the gateway's
    // offline status and disconnects (so that the last will is not sent). Returns the number of
    // events that were still undelivered.
    std::size_t stop(std::chrono::milliseconds bound);

    struct Counters {
        std::uint64_t published = 0;  // events the broker acknowledged
        std::size_t queued = 0, in_flight = 0;
        std::uint64_t dropped = 0, connects = 0;
        bool connected = false;
        std::vector<std::uint64_t> dropped_by_reader;
    };
    Counters counters() const;

private:
    enum class Kind { event, status, other };
    struct Event {
        std::size_t reader;
        std::string payload;
    };
    bool connect_first();
    void run();
    void queue_notices();  // under the lock
    bool send(const std::string& topic, const std::string& payload, bool retain, Kind kind);  // under the lock
    static void on_connect(mosquitto*, void* self, int rc);
    static void on_disconnect(mosquitto*, void* self, int rc);
    static void on_publish(mosquitto*, void* self, int mid);
    static void on_log(mosquitto*, void* self, int level, const char* text);
    // Why the broker cannot be reached (TLS, credentials): stderr once per cause, and the
    // gateway's status once it gets through.
    void broker_error(const std::string& what);

    const GatewayConfig& config_;
    std::vector<std::string> tag_topics_;
    mosquitto* client_ = nullptr;
    bool loop_started_ = false;
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false, connected_ = false;
    std::deque<Event> queue_;
    std::unordered_map<int, Kind> in_flight_;  // handed to libmosquitto, not yet acknowledged
    std::size_t events_in_flight_ = 0;
    std::map<std::string, std::string> statuses_;
    std::set<std::string> unsent_statuses_;
    std::vector<std::uint64_t> dropped_, unreported_drops_, first_dropped_, last_dropped_;
    std::uint64_t published_ = 0, dropped_total_ = 0, connects_ = 0;
    std::vector<std::string> broker_errors_;  // since the last connection, each once
    std::string broker_error_time_, tls_log_;
    bool restart_ = false;  // libmosquitto's network thread stopped after a TLS failure
    std::chrono::milliseconds tls_delay_{config_.retry_min_ms};
};

}  // namespace zrgate
