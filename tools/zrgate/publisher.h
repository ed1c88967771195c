// The gateway's side of the broker: one libmosquitto client with its network thread, a
// bounded queue of tag events that holds them while the broker is away, and the retained
// status topics, republished on every connection (a restarted broker may have lost them).
// With a spool, every event is committed to it before it goes to the broker and removed once
// the broker has it; the in-memory queue is then only a window onto the spool.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "config.h"
#include "spool.h"

struct mosquitto;

namespace zrgate {

class Publisher {
public:
    // `spool` (may be null: events in memory only) is used by the publisher's own thread.
    Publisher(const GatewayConfig& config, std::unique_ptr<Spool> spool = nullptr);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Sets up the client (last will, credentials, TLS) and starts connecting; a broker that
    // is not there yet is retried in the background. false with `error` when the setup fails.
    bool start(std::string& error);

    // The slot of reader `name` (a section), for event(): the same for the same name all run
    // long. Every reader of the configuration has one from the start.
    std::size_t add_reader(const std::string& name);
    // A tag event of the reader in `slot`: `head` is the JSON object up to `"seq":`, and the
    // reader's next seq (and '}') completes it. false when the queue or spool is full: the
    // event is dropped and counted, and the reader's tags topic gets a "dropped" notice with
    // the count and the range of numbers once there is room again.
    // `seq`, when given, gets the number the event was given (also when it was dropped).
    bool event(std::size_t slot, std::string head, std::uint64_t* seq = nullptr);
    // This run's number: counted in the spool, or the start time in ms without one.
    std::uint64_t run() const { return run_; }
    // A retained status: only the latest per topic is kept until it is out.
    void status(const std::string& topic, std::string payload);
    // Published now if the broker is there, else not at all (stats are periodic).
    void transient(const std::string& topic, std::string payload);

    // Shutdown: waits up to `bound` for the queue to empty, then publishes the gateway's
    // offline status and disconnects (so that the last will is not sent). Returns the number of
    // events that were still undelivered (with a spool: kept in it for the next run).
    std::size_t stop(std::chrono::milliseconds bound);

    struct Counters {
        std::uint64_t published = 0;  // events the broker acknowledged
        std::size_t queued = 0, in_flight = 0;
        std::uint64_t dropped = 0, connects = 0;
        std::size_t spooled = 0;  // in the spool, not yet acknowledged (0 without one)
        bool connected = false;
        std::vector<std::uint64_t> dropped_by_reader;
    };
    Counters counters() const;

private:
    enum class Kind { event, status, other };
    struct Event {
        std::int64_t id;           // its row in the spool
        const std::string* topic;  // in topics_
        std::string payload;
    };
    struct Flight {
        Kind kind;
        std::int64_t id;
    };
    bool connect_first();
    void run_broker();
    void run_spool();
    void enqueue(const std::string* topic, std::string payload);  // under the lock
    const std::string* topic(const std::string& name);            // under the lock
    std::size_t add_reader_locked(const std::string& name);
    bool spool_wanted() const;                               // under the lock
    void queue_notices();  // under the lock
    bool send(const std::string& topic, const std::string& payload, bool retain, Kind kind, std::int64_t id = 0);  // under the lock
    void forget(std::int64_t id);  // under the lock
    void stop_spool();
    static void on_connect(mosquitto*, void* self, int rc);
    static void on_disconnect(mosquitto*, void* self, int rc);
    static void on_publish(mosquitto*, void* self, int mid);
    static void on_log(mosquitto*, void* self, int level, const char* text);
    // Why the broker cannot be reached (TLS, credentials): stderr once per cause, and the
    // gateway's status once it gets through.
    void broker_error(const std::string& what);

    const GatewayConfig& config_;
    std::unique_ptr<Spool> spool_;
    std::uint64_t run_ = 0;
    // By reader slot: its name and tags topic. Topics are kept in a deque, whose entries stay
    // where they are: the spool thread reads them outside the lock.
    std::vector<std::string> names_;
    std::vector<const std::string*> tag_topics_;
    std::deque<std::string> topics_;
    std::unordered_map<std::string, const std::string*> topic_ids_;
    mosquitto* client_ = nullptr;
    bool loop_started_ = false;
    std::thread thread_, spool_thread_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false, connected_ = false;
    std::deque<Event> queue_;  // with a spool: committed events, ids mem_end_ - size() .. mem_end_ - 1
    std::unordered_map<int, Flight> in_flight_;  // handed to libmosquitto, not yet acknowledged
    std::size_t held_ = 0, bound_ = 0;  // events kept (queued, in flight, in the spool), and their bound

    // The spool's side (under mutex_): events waiting to be committed, acknowledged ids
    // waiting to be removed, and the ids that are only in the spool file.
    std::condition_variable spool_wake_;
    bool spool_stopping_ = false;
    std::vector<Event> pending_;
    std::vector<std::int64_t> acked_;
    std::vector<std::uint64_t> issued_;  // by reader slot: the last seq issued
    std::int64_t next_id_ = 1, mem_end_ = 1, committed_end_ = 1;
    std::string spool_error_;
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
