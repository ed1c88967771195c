// Hosts the reader model on real loopback TCP (port 7086) and on a pseudo-terminal.
// One thread serves every connection; the model and the fault plan are shared by them.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "faults.h"
#include "field.h"
#include "latency.h"
#include "model.h"

namespace zr::sim {

inline constexpr std::uint16_t kReaderPort = 7086;

class Simulator {
public:
    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Listens on `address` (dotted IPv4). false and `error` set when it cannot.
    bool listen_tcp(const std::string& address, std::uint16_t port, std::string& error);
    // Opens a pseudo-terminal; the path of its slave side, to be used as the serial port name.
    bool open_pty(std::string& slave_path, std::string& error);

    // Serves on a thread of its own until stop() or destruction.
    void start();
    void stop();
    // Serves on the calling thread until `stop_flag` is set.
    void run(const std::atomic<bool>& stop_flag);

    // Trace sink: one line per frame in or out, hex with the command name.
    void set_trace(std::function<void(const std::string&)> sink);

    // Runs `f(model)` under the simulator's lock.
    template <typename F>
    auto with_model(F&& f) {
        std::lock_guard lock(mutex_);
        return f(model_);
    }
    void set_fault(int code, Fault f);
    void clear_faults();
    bool add_fault(const std::string& spec, std::string& error);
    // The faults in force, one line per command (FaultPlan::describe).
    std::vector<std::string> describe_faults() const {
        std::lock_guard lock(mutex_);
        return faults_.describe();
    }

    // How long the reader takes to answer a command (`code` LatencyPlan::kAny: every command
    // without its own), from when the request is decoded. An inventory's reports are its
    // replies; a request answered only by frames of its code later (the EAS alarm start)
    // holds those frames back as long.
    void set_latency(int code, Latency l);
    void clear_latencies();
    bool add_latency(const std::string& text, std::string& error);
    std::vector<std::string> describe_latencies() const {
        std::lock_guard lock(mutex_);
        return latencies_.describe();
    }

    // The field at run time (sim/field.h), each change under the lock and seen by the next
    // request: tags arrive, leave, change antenna. false + `error` as apply_field_event.
    bool apply(const FieldEvent& e, std::string& error);
    bool add_tag(const Bytes& epc, std::uint8_t antenna = 0, std::string* error = nullptr);
    bool remove_tag(const Bytes& epc, std::string* error = nullptr);
    bool move_tag(const Bytes& epc, std::uint8_t antenna, std::string* error = nullptr);
    // Plays `s` from now on, replacing a scenario being played. Events that cannot apply (the
    // EPC already there, or not there) are skipped and told to `on_error`, with their line.
    void play(Scenario s, std::function<void(const std::string&)> on_error = nullptr);

    // Control lines (add, remove, move as sim/field.h, and list), each answered with "ok" or
    // "error: WHY" ("list": the tags, one a line, then "ok").
    std::vector<std::string> control(const std::string& line);
    // Takes control lines on a Unix socket at `path` (a socket left there is replaced; any
    // other file is not); the socket file goes with the simulator.
    bool listen_control(const std::string& path, std::string& error);
    // Takes control lines from `in` and answers on `out` (standard input and output); the
    // descriptors stay open.
    void control_stream(int in, int out);

    // Bytes still to go out on any connection, delayed ones included, and frames pushed but not
    // yet given to a connection: 0 once everything the reader has said is written.
    std::size_t unsent() const;

    // Frames received with a good CRC, for tests that check what went over the wire.
    std::vector<Bytes> requests() const;
    void clear_requests();

private:
    struct Connection;
    void serve_once(int timeout_ms);
    void accept_clients(int listener);
    void read_from(Connection& c);
    void write_due(Connection& c, std::chrono::steady_clock::time_point now);
    void queue(Connection& c, const WireReply& w, std::chrono::steady_clock::time_point now);
    void trace(const std::string& line);
    struct ControlClient {
        int in, out;
        bool own;  // a socket of ours, closed when done
        std::string pending;
        bool gone = false;
    };
    bool apply_locked(const FieldEvent& e, std::string& error);
    std::vector<std::string> control_locked(const std::string& line);
    void serve_control(ControlClient& c);
    void trace_reply(const Bytes& payload, const std::optional<Fault>& fault, const char* note);
    std::chrono::milliseconds clock() const;

    mutable std::mutex mutex_;
    ReaderModel model_;
    FaultPlan faults_;
    LatencyPlan latencies_;
    // Per code: until when frames the reader sends on its own under that code are held back,
    // set by a request whose answers they are.
    std::map<std::uint8_t, std::chrono::steady_clock::time_point> held_until_;
    std::vector<int> listeners_;
    std::vector<std::unique_ptr<Connection>> connections_;
    int pty_slave_ = -1;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::function<void(const std::string&)> trace_;
    std::vector<Bytes> requests_;
    std::chrono::steady_clock::time_point started_;
    std::optional<ScenarioPlayer> player_;
    std::function<void(const std::string&)> on_scenario_error_;
    int control_listener_ = -1;
    std::string control_path_;
    std::vector<ControlClient> controls_;
};

}  // namespace zr::sim
