// The protocol analyser as a go-between: the application connects to it as to a reader (TCP,
// or a pseudo-terminal for the serial form), it connects to the real reader (TCP, or a real
// serial device at 19200 baud), forwards every byte unchanged both ways as soon as it
// arrives, and prints each frame it sees decoded, with its time.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "analyser.h"

namespace zr::sim {

class Proxy {
public:
    // `line`: each decoded frame as the analyser prints it (time, then the transcript line);
    // `record`: the transcript line alone, for a transcript file (may be empty).
    Proxy(std::function<void(const std::string&)> line, std::function<void(const std::string&)> record);
    ~Proxy();
    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    // The reader side: a reader at `host` (dotted IPv4) and `port`; or a serial device.
    void upstream_tcp(const std::string& host, std::uint16_t port);
    bool upstream_serial(const std::string& device, std::string& error);
    // The application side: listen on `address`:`port`; or a pseudo-terminal (its path).
    bool listen_tcp(const std::string& address, std::uint16_t port, std::string& error);
    bool open_pty(std::string& slave_path, std::string& error);
    // The device class whose status texts the decoding uses.
    void set_device_class(int c) { device_class_ = c; }

    void start();
    void stop();
    void run(const std::atomic<bool>& stop_flag);

private:
    struct Side {
        int fd = -1;
        FrameSplitter splitter;
        explicit Side(bool serial) : splitter(serial) {}
    };
    struct Pair {
        Side app, reader;
        bool serial;
        explicit Pair(bool s) : app(s), reader(s), serial(s) {}
    };
    void serve_once(int timeout_ms);
    void accept_client();
    bool forward(Pair& p, bool from_app);
    void report(const std::vector<Piece>& pieces, Direction d);
    void close_pair(Pair& p);

    std::function<void(const std::string&)> line_, record_;
    std::string host_;
    std::uint16_t port_ = 0;
    int listener_ = -1;
    int pty_slave_ = -1;
    int device_class_ = 3;
    std::vector<std::unique_ptr<Pair>> pairs_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::chrono::steady_clock::time_point started_, last_;
    bool seen_ = false;
};

}  // namespace zr::sim
