#include "proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zr::sim {
namespace {

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

// Writes all of `n` bytes, waiting for room: the bytes must go on unchanged and in order.
bool write_all(int fd, const std::uint8_t* p, std::size_t n, bool socket) {
    while (n > 0) {
        const auto w = socket ? ::send(fd, p, n, MSG_NOSIGNAL) : ::write(fd, p, n);
        if (w < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                pollfd f{fd, POLLOUT, 0};
                ::poll(&f, 1, 100);
                continue;
            }
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Connects within `ms` (the library's own limit), so that a reader that does not answer
// cannot stall the connections already being forwarded for long. -1 with errno set.
int connect_tcp(const std::string& host, std::uint16_t port, int ms) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
        errno = EINVAL;
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        pollfd f{fd, POLLOUT, 0};
        int error = errno;
        if (error == EINPROGRESS) {
            error = ETIMEDOUT;
            if (::poll(&f, 1, ms) == 1) {
                socklen_t size = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
            }
        }
        if (error != 0) {
            ::close(fd);
            errno = error;
            return -1;
        }
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // no delay added to the reader's timing
    return fd;
}

}  // namespace

Proxy::Proxy(std::function<void(const std::string&)> line, std::function<void(const std::string&)> record)
    : line_(std::move(line)), record_(std::move(record)), started_(std::chrono::steady_clock::now()) {
    if (::pipe(wake_) == 0) {
        set_nonblocking(wake_[0]);
        set_nonblocking(wake_[1]);
    }
}

Proxy::~Proxy() {
    stop();
    for (auto& p : pairs_) close_pair(*p);
    if (listener_ >= 0) ::close(listener_);
    if (pty_slave_ >= 0) ::close(pty_slave_);
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void Proxy::upstream_tcp(const std::string& host, std::uint16_t port) {
    host_ = host;
    port_ = port;
}

bool Proxy::upstream_serial(const std::string& device, std::string& error) {
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) {
        error = "cannot open " + device + " as a serial port: " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B19200);
    ::cfsetospeed(&t, B19200);
    t.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd, TCSANOW, &t);
    // One reader line: it pairs with the application's pseudo-terminal once that is open.
    if (pairs_.empty()) pairs_.push_back(std::make_unique<Pair>(true));
    pairs_.front()->reader.fd = fd;
    return true;
}

bool Proxy::listen_tcp(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    set_nonblocking(fd);
    listener_ = fd;
    return true;
}

bool Proxy::open_pty(std::string& slave_path, std::string& error) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0) ::close(master);
        return false;
    }
    const char* name = ::ptsname(master);
    slave_path = name ? name : "";
    // Held open so that the master stays readable while the application has not opened it.
    const int slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = "cannot open " + slave_path + ": " + std::strerror(errno);
        ::close(master);
        return false;
    }
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    set_nonblocking(master);
    pty_slave_ = slave;
    if (pairs_.empty()) pairs_.push_back(std::make_unique<Pair>(true));
    pairs_.front()->app.fd = master;
    return true;
}

void Proxy::start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(stopping_); });
}

void Proxy::stop() {
    stopping_ = true;
    if (wake_[1] >= 0) {
        char b = 1;
        [[maybe_unused]] auto n = ::write(wake_[1], &b, 1);
    }
    if (thread_.joinable()) thread_.join();
}

void Proxy::run(const std::atomic<bool>& stop_flag) {
    while (!stop_flag) serve_once(200);
}

void Proxy::close_pair(Pair& p) {
    for (Side* s : {&p.app, &p.reader}) {
        report(s->splitter.finish(), s == &p.app ? Direction::to_reader : Direction::to_host);
        if (s->fd >= 0) ::close(s->fd);
        s->fd = -1;
    }
}

void Proxy::accept_client() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        const int up = connect_tcp(host_, port_, 10000);
        if (up < 0) {
            if (line_) line_("proxy: cannot connect to the reader at " + host_ + ":" + std::to_string(port_) + ": " +
                             std::strerror(errno) + " (the application's connection is closed)");
            ::close(fd);
            continue;
        }
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto p = std::make_unique<Pair>(false);
        p->app.fd = fd;
        p->reader.fd = up;
        if (line_) line_("proxy: application connected, forwarding to " + host_ + ":" + std::to_string(port_));
        pairs_.push_back(std::move(p));
    }
}

void Proxy::report(const std::vector<Piece>& pieces, Direction d) {
    const auto now = std::chrono::steady_clock::now();
    for (const auto& piece : pieces) {
        const std::string text = transcript_line(piece, d, device_class_);
        using std::chrono::duration;
        const double at = duration<double>(now - started_).count();
        const double since = seen_ ? duration<double>(now - last_).count() : 0.0;
        last_ = now;
        seen_ = true;
        char stamp[48];
        std::snprintf(stamp, sizeof stamp, "%9.3f s (+%6.3f)  ", at, since);
        if (line_) line_(stamp + text);
        if (record_) record_(text);
    }
}

// Moves what one side has to the other, unchanged, then decodes it. false when that side or
// the other has gone.
bool Proxy::forward(Pair& p, bool from_app) {
    Side& from = from_app ? p.app : p.reader;
    Side& to = from_app ? p.reader : p.app;
    std::uint8_t buf[4096];
    const auto n = ::read(from.fd, buf, sizeof buf);
    if (n == 0) return p.serial && from_app;  // a pseudo-terminal whose application closed it
    if (n < 0) return errno == EAGAIN || errno == EINTR || (errno == EIO && p.serial && from_app);
    if (to.fd >= 0 && !write_all(to.fd, buf, static_cast<std::size_t>(n), !p.serial)) return false;
    report(from.splitter.feed(buf, static_cast<std::size_t>(n)), from_app ? Direction::to_reader : Direction::to_host);
    return true;
}

void Proxy::serve_once(int timeout_ms) {
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}};
    if (listener_ >= 0) fds.push_back({listener_, POLLIN, 0});
    for (auto& p : pairs_)
        for (int fd : {p->app.fd, p->reader.fd})
            if (fd >= 0) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeout_ms) <= 0) return;
    if (fds[0].revents) {
        char drain[64];
        while (::read(wake_[0], drain, sizeof drain) > 0) {
        }
    }
    auto ready = [&](int fd) {
        for (const auto& f : fds)
            if (f.fd == fd && fd >= 0) return (f.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        return false;
    };
    if (listener_ >= 0 && ready(listener_)) accept_client();
    for (auto& p : pairs_) {
        bool alive = true;
        if (ready(p->app.fd)) alive = forward(*p, true);
        if (alive && ready(p->reader.fd)) alive = forward(*p, false);
        if (!alive) {
            if (line_) line_(p->serial ? "proxy: the serial device has gone" : "proxy: connection closed");
            close_pair(*p);
        }
    }
    std::erase_if(pairs_, [](const std::unique_ptr<Pair>& p) { return p->app.fd < 0 && p->reader.fd < 0; });
}

}  // namespace zr::sim
