// One reader: its own session and thread, continuous inventories, arrived/departed events,
// its status topic, and reconnection with back-off when the reader is lost.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "publisher.h"

namespace zrgate {

// The stop request every worker waits on, so that one notify ends every pause at once.
struct StopSignal {
    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    void request() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        wake.notify_all();
    }
};

class Worker {
public:
    // `slot`: the reader's, from Publisher::add_reader.
    Worker(const GatewayConfig& config, ReaderConfig reader, std::size_t slot, Publisher& publisher, StopSignal& stop);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void start();
    bool done() const { return done_; }
    // Stops this worker alone (its reader left the configuration, or changed): the session is
    // closed and the status set offline with `cause`. done() tells when it is over.
    void retire(std::string cause);
    const ReaderConfig& reader() const { return reader_; }
    std::size_t slot() const { return slot_; }
    // Joins a finished thread; a thread still inside a library call is left to the process end.
    void join_or_leave();

    struct Snapshot {
        std::string state;
        std::uint64_t reads, events, reconnects;
        std::string cause;  // why it is reconnecting or offline
    };
    Snapshot snapshot() const;

    // Views for the console, safe from any thread; the inventory loop pays a short lock per read.
    struct Tag {
        std::string id;  // hex
        int antenna;
        std::chrono::system_clock::time_point first, last;
        std::uint64_t reads;
    };
    std::vector<Tag> present() const;
    // Reads so far on each configured antenna, in the order of the configuration.
    std::vector<std::uint64_t> antenna_reads() const;
    // Called with each event's JSON (the payload published) on the worker's thread; set before start().
    void observe(std::function<void(std::size_t reader, const std::string& event)> observer) {
        observer_ = std::move(observer);
    }

private:
    enum class State { starting, online, reconnecting, offline };
    enum class RoundEnd { ok, bad, lost, stopped };
    struct Presence {
        int antenna;
        std::chrono::steady_clock::time_point last;
        std::chrono::system_clock::time_point first_wall, last_wall;
        std::uint64_t reads;
    };

    void run();
    bool open_session();
    RoundEnd round(int antenna);
    void seen(const std::uint8_t* id, std::size_t n, int antenna);
    void expire(std::chrono::steady_clock::time_point now, bool all);
    void emit(std::string body);
    void set_state(State s, const std::string& cause);
    // Waits up to `d`, waking for departures that fall due; false once a stop is requested.
    bool pause(std::chrono::milliseconds d);
    bool stopping();

    const GatewayConfig& config_;
    const ReaderConfig reader_;
    const std::size_t slot_;
    Publisher& publisher_;
    StopSignal& stop_;
    const std::string status_topic_, id_key_;
    const std::string run_;  // ,"run":N,"seq": for every event
    std::thread thread_;
    std::atomic<bool> done_{false};

    int handle_ = -1;
    std::string cause_;
    std::map<std::string, Presence> present_;  // by identifier (hex); changed under view_mutex_
    mutable std::mutex view_mutex_;
    std::array<std::atomic<std::uint64_t>, 256> antenna_reads_{};  // by antenna byte
    std::function<void(std::size_t, const std::string&)> observer_;
    bool retired_ = false;  // under stop_.mutex
    std::string retire_cause_;

    mutable std::mutex state_mutex_;
    State state_ = State::starting;
    std::string published_cause_;
    bool online_ = false;  // the worker's own copy of state_ == online, read without the lock
    std::atomic<std::uint64_t> reads_{0}, events_{0}, reconnects_{0};
};

}  // namespace zrgate
