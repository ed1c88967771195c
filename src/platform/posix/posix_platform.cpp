// POSIX: termios serial ports, non-blocking sockets with poll, INI files on disk.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/ini.h"
#include "platform/platform.h"

namespace zr::platform {
namespace {

using Clock = std::chrono::steady_clock;

// poll() for one event, resuming after signals until `limit` has passed.
Ready poll_for(int fd, short events, std::chrono::microseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now());
        if (left.count() < 0) left = std::chrono::nanoseconds(0);
        timespec ts{static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
        pollfd p{fd, events, 0};
        int r = ::ppoll(&p, 1, &ts, nullptr);
        if (r > 0) {
            if (p.revents & events) return Ready::yes;
            // Hang-up or error: readers find out from recv, writers from send.
            return (events & POLLIN) ? Ready::yes : Ready::error;
        }
        if (r == 0) return Ready::timeout;
        if (errno != EINTR) return Ready::error;
    }
}

// A descriptor closed exactly once: by close() when the caller wants the result, else at the end.
class OwnedFd {
public:
    explicit OwnedFd(int fd) : fd_(fd) {}
    ~OwnedFd() {
        if (fd_ >= 0) ::close(fd_);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    operator int() const { return fd_; }
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

class PosixSerialPort final : public SerialPort {
public:
    explicit PosixSerialPort(int fd) : fd_(fd) {}
    int read_byte() override {
        unsigned char b;
        return ::read(fd_, &b, 1) == 1 ? b : -1;
    }
    bool write_byte(std::uint8_t byte) override { return ::write(fd_, &byte, 1) == 1; }
    void flush() override { ::tcdrain(fd_); }
    bool wait_readable(std::chrono::microseconds limit) override {
        return poll_for(fd_, POLLIN, limit) == Ready::yes;
    }
    bool close() override { return fd_.close(); }

private:
    OwnedFd fd_;
};

class PosixSocket final : public Socket {
public:
    explicit PosixSocket(int fd) : fd_(fd) {}
    Ready wait_connected(int ms) override {
        auto r = poll_for(fd_, POLLOUT, std::chrono::milliseconds(ms));
        if (r != Ready::yes) return r;
        // Writable with a pending error means the attempt failed.
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return Ready::error;
        return Ready::yes;
    }
    Ready wait_writable(int ms) override { return poll_for(fd_, POLLOUT, std::chrono::milliseconds(ms)); }
    Ready wait_readable(int ms) override { return poll_for(fd_, POLLIN, std::chrono::milliseconds(ms)); }
    int send(std::span<const std::uint8_t> bytes) override {
        auto r = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        return r < 0 ? -1 : static_cast<int>(r);
    }
    int recv(std::span<std::uint8_t> bytes) override {
        auto r = ::recv(fd_, bytes.data(), bytes.size(), 0);
        return r < 0 ? -1 : static_cast<int>(r);
    }
    bool close() override { return fd_.close(); }

private:
    OwnedFd fd_;
};

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class PosixPlatform final : public Platform {
public:
    std::unique_ptr<SerialPort> open_serial(const std::string& name) override {
        int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        // Exclusive, as an unshared open is on Windows: a second open of the port fails.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return nullptr;
        }
        termios t{};
        if (::tcgetattr(fd, &t) == 0) {
            // Raw 8N1 at 19200; stop bits and flow control stay as the port had them.
            t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
            t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
            t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
            t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
            t.c_cflag |= CS8 | CREAD | CLOCAL;
            t.c_cc[VMIN] = 0;
            t.c_cc[VTIME] = 0;
            ::cfsetispeed(&t, B19200);
            ::cfsetospeed(&t, B19200);
            ::tcsetattr(fd, TCSANOW, &t);
        }
        return std::make_unique<PosixSerialPort>(fd);
    }

    std::unique_ptr<Socket> open_tcp(std::uint32_t address, std::uint16_t port) override {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) return nullptr;
        int flags = ::fcntl(fd, F_GETFL, 0);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            ::close(fd);
            return nullptr;
        }
        int one = 1;  // frames are small and each one waits for its answer
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = htonl(address);
        ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer);  // completes later
        return std::make_unique<PosixSocket>(fd);
    }

    std::string read_profile(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& fallback) override {
        auto text = read_file(path);
        if (!text) return fallback;
        auto value = ini::get(*text, section, key);
        return value ? *value : fallback;
    }

    bool write_profile(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& value) override {
        auto text = ini::set(read_file(path).value_or(""), section, key, value);
        // A new file beside the old one, renamed over it: never half a configuration file.
        std::string temp = path + ".XXXXXX";
        int fd = ::mkstemp(temp.data());
        if (fd < 0) return false;
        struct stat st{};
        if (::stat(path.c_str(), &st) == 0) ::fchmod(fd, st.st_mode & 07777);
        else ::fchmod(fd, 0644);
        bool ok = true;
        for (std::size_t done = 0; ok && done < text.size();) {
            auto n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += static_cast<std::size_t>(n);
        }
        ok = ok && ::fsync(fd) == 0;
        ok = (::close(fd) == 0) && ok;
        if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
        if (!ok) ::unlink(temp.c_str());
        return ok;
    }

    void sleep_ms(int ms) override {
        if (ms <= 0) return;
        timespec ts{ms / 1000, (ms % 1000) * 1000000L};
        while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }

    std::chrono::microseconds now() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
    }
};

}  // namespace

Platform& native() {
    static PosixPlatform platform;
    return platform;
}

}  // namespace zr::platform
