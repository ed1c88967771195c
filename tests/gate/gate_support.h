// What zrgate's tests share: files, ports, the broker's program, children that log, waiting.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "child.h"

#ifndef ZRGATE_PATH
#error "ZRGATE_PATH must name the zrgate binary"
#endif

namespace zr::test::gate {

inline std::string temp_dir(const char* name = "zrgate-test") {
    std::string tmpl = std::string("/tmp/") + name + "-XXXXXX";
    return ::mkdtemp(tmpl.data()) ? tmpl : "/tmp";
}

inline std::string write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

inline std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// For a child with stdout and stderr in `log`, in a process group of its own.
inline ChildOptions logged(const std::string& log) {
    ChildOptions options;
    options.out = options.err = Sink::log;
    options.log = log;
    options.own_group = true;
    return options;
}

inline std::string broker_binary() {
    for (const char* p : {"/usr/sbin/mosquitto", "/usr/local/sbin/mosquitto", "/usr/bin/mosquitto"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

// A loopback port nobody listens on now.
inline int free_port() {
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

inline bool port_open(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

// Waits (at most 30 s) for `done`; the assertions that follow say what did not happen.
inline bool eventually(const std::function<bool()>& done) {
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30); std::chrono::steady_clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

}  // namespace zr::test::gate
