// POSIX: termios serial ports, non-blocking sockets with poll, INI files on disk.
#include <dirent.h>
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

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>

#include "platform/ini.h"
#include "platform/platform.h"

namespace zr::platform {
namespace {

using Clock = std::chrono::steady_clock;

// strerror_r comes in two shapes; either way the text ends up in `buffer` or is returned.
[[maybe_unused]] const char* error_text(int r, const char* buffer) { return r == 0 ? buffer : "unknown error"; }
[[maybe_unused]] const char* error_text(const char* text, const char*) { return text; }

// The words for `err`: fixed ones for the failures an open commonly meets, so that messages
// read the same on every system, else the system's own, lower case.
std::string reason_of(int err) {
    switch (err) {
        case ENOENT: return "no such file or directory";
        case EACCES: case EPERM: return "permission denied";
        case EBUSY: case EWOULDBLOCK: return "in use";
        case EISDIR: return "is a directory";
        case ECONNREFUSED: return "connection refused";
        case ECONNRESET: return "connection reset";
        case EPIPE: return "the connection is closed";
        case ETIMEDOUT: return "timed out";
        case EHOSTUNREACH: return "no route to host";
        case ENETUNREACH: return "network unreachable";
        case ENXIO: case ENODEV: return "no such device";
        case EIO: return "input/output error";
        default: break;
    }
    char buffer[128] = {};
    std::string text = error_text(::strerror_r(err, buffer, sizeof buffer), buffer);
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

Failure failure_of(int err) {
    Failure f;
    switch (err) {
        case ENOENT: case ENXIO: case ENODEV: f.kind = Failure::Kind::missing; break;
        case EACCES: case EPERM: f.kind = Failure::Kind::denied; break;
        case EBUSY: case EWOULDBLOCK: f.kind = Failure::Kind::busy; break;
        case ECONNREFUSED: f.kind = Failure::Kind::refused; break;
        default: f.kind = Failure::Kind::other; break;
    }
    f.reason = reason_of(err);
    return f;
}

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
    void release() { fd_ = -1; }
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
    ~PosixSerialPort() override {
        if (fd_ >= 0) ::ioctl(fd_, TIOCNXCL);
    }
    int read_byte() override {
        unsigned char b;
        if (::read(fd_, &b, 1) == 1) return b;
        note_error();
        return -1;
    }
    bool write_byte(std::uint8_t byte) override {
        if (::write(fd_, &byte, 1) == 1) return true;
        note_error();
        return false;
    }
    int write(std::span<const std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const auto n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN && poll_for(fd_, POLLOUT, std::chrono::seconds(1)) == Ready::yes) continue;
            if (n < 0) note_error();
            break;
        }
        return static_cast<int>(done);
    }
    bool gone() const override { return gone_; }
    void flush() override { ::tcdrain(fd_); }
    bool wait_readable(std::chrono::microseconds limit) override {
        return poll_for(fd_, POLLIN, limit) == Ready::yes;
    }
    bool close() override {
        // The exclusive mode belongs to the terminal, not to this descriptor: a pseudo-terminal
        // kept open by its other side would otherwise refuse the next open.
        ::ioctl(fd_, TIOCNXCL);
        return fd_.close();
    }

private:
    // A hung-up terminal or a removed USB adapter fails every call from now on.
    void note_error() {
        if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EBADF) gone_ = true;
    }
    OwnedFd fd_;
    bool gone_ = false;
};

class PosixSocket final : public Socket {
public:
    // `connect_error`: the errno of a connect that failed at once (0: under way).
    PosixSocket(int fd, int connect_error) : fd_(fd), error_(connect_error) {}
    Ready wait_connected(int ms) override {
        if (error_ != 0) return Ready::error;
        auto r = poll_for(fd_, POLLOUT, std::chrono::milliseconds(ms));
        if (r != Ready::yes) return r;
        // Writable with a pending error means the attempt failed.
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        if (err != 0) {
            error_ = err;
            return Ready::error;
        }
        return Ready::yes;
    }
    Failure failure() const override { return error_ ? failure_of(error_) : Failure{}; }
    Ready wait_writable(int ms) override { return poll_for(fd_, POLLOUT, std::chrono::milliseconds(ms)); }
    Ready wait_readable(int ms) override { return poll_for(fd_, POLLIN, std::chrono::milliseconds(ms)); }
    int send(std::span<const std::uint8_t> bytes) override {
        ssize_t r;
        do r = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        while (r < 0 && errno == EINTR);
        if (r < 0) return broken_or_waiting();
        return static_cast<int>(r);
    }
    int recv(std::span<std::uint8_t> bytes) override {
        ssize_t r;
        do r = ::recv(fd_, bytes.data(), bytes.size(), 0);
        while (r < 0 && errno == EINTR);
        if (r < 0) return broken_or_waiting();
        return static_cast<int>(r);
    }
    bool close() override { return fd_.close(); }

private:
    int broken_or_waiting() {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return kWouldBlock;
        error_ = errno;
        return -1;
    }
    OwnedFd fd_;
    int error_;
};

// The text of a regular file. Nothing when it cannot be read; `missing` tells whether that is
// because there is no such file. Other kinds of file (a FIFO, a device) are refused: reading
// them could block or never end.
std::optional<std::string> read_file(const std::string& path, bool* missing = nullptr) {
    if (missing) *missing = false;
    OwnedFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0) {
        if (missing) *missing = errno == ENOENT;
        return std::nullopt;
    }
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        auto n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string directory_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A write's new file, made beside the file it replaces: "<name>.zr-tmp-" and the six letters
// or digits mkostemp picks. Narrow enough that a clean-up by it removes nothing else.
constexpr std::string_view kTempMark = ".zr-tmp-";

bool temp_of(std::string_view entry, std::string_view name) {
    if (entry.size() != name.size() + kTempMark.size() + 6 || !entry.starts_with(name)) return false;
    entry.remove_prefix(name.size());
    if (!entry.starts_with(kTempMark)) return false;
    entry.remove_prefix(kTempMark.size());
    return std::all_of(entry.begin(), entry.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Removes the new files that writes of `target` cut short (a kill, a crash, a power cut) left
// beside it, each as large as the file. Only this user's regular files, and none a write still
// under way holds locked: a write locks its new file from creation to rename.
void remove_leftovers(const std::string& target) {
    const std::string name = target.substr(target.find_last_of('/') + 1);
    DIR* dir = ::opendir(directory_of(target).c_str());
    if (!dir) return;
    const int at = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        if (!temp_of(e->d_name, name)) continue;
        OwnedFd fd(::openat(at, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat held{}, named{};
        if (fd < 0 || ::fstat(fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != ::geteuid()) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) continue;
        // The name still leads to the file locked, not to one made under it since.
        if (::fstatat(at, e->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != held.st_dev ||
            named.st_ino != held.st_ino)
            continue;
        ::unlinkat(at, e->d_name, 0);
    }
    ::closedir(dir);
}

// A new, locked file beside `target` (its name in `temp`), or -1.
int make_temp(const std::string& target, std::string& temp) {
    for (int tries = 0; tries < 4; ++tries) {
        temp = target + std::string(kTempMark) + "XXXXXX";
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        // Where locks are not had the file goes unlocked: no clean-up removes it then either.
        ::flock(fd, LOCK_EX);
        // Another write's clean-up may have removed it before the lock: then a new name.
        struct stat st{};
        if (::fstat(fd, &st) == 0 && st.st_nlink > 0) return fd;
        ::close(fd);
    }
    return -1;
}

// The file a write to `path` must replace: through symbolic links, so that a link stays a
// link, also one whose target does not exist yet. Nothing when the path cannot be resolved
// (a loop of links, a directory that may not be searched).
std::optional<std::string> write_target(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string resolved(real);
            std::free(real);
            return resolved;
        }
        if (errno != ENOENT) return std::nullopt;
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;  // a new file
        // A dangling link: follow it by hand to the file it names.
        std::string link(PATH_MAX, '\0');
        auto n = ::readlink(path.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return std::nullopt;
        link.resize(static_cast<std::size_t>(n));
        path = link.front() == '/' ? link : directory_of(path) + "/" + link;
    }
    return std::nullopt;
}

bool write_all(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        auto n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

class PosixPlatform final : public Platform {
public:
    std::unique_ptr<SerialPort> open_serial(const std::string& name, Failure* why) override {
        auto fail = [&](Failure f) -> std::unique_ptr<SerialPort> {
            if (why) *why = std::move(f);
            return nullptr;
        };
        const Failure not_a_port{Failure::Kind::not_a_port, "not a terminal device"};
        // Only a terminal is a serial port. Anything else is refused before it is opened for
        // writing (a regular file would take the request frames), and checked again on the
        // descriptor in case the name was replaced in between.
        struct stat st{};
        if (::stat(name.c_str(), &st) != 0) return fail(failure_of(errno));
        if (!S_ISCHR(st.st_mode)) return fail(not_a_port);
        OwnedFd fd(::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (fd < 0) return fail(failure_of(errno));
        termios t{};
        if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::tcgetattr(fd, &t) != 0) return fail(not_a_port);
        // Exclusive, as an unshared open is on Windows: a second open of the port fails, by
        // the lock in programs that take it, by the terminal's exclusive mode in others
        // (which refuses their open with EBUSY).
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(failure_of(errno == EWOULDBLOCK ? EBUSY : errno));
        ::ioctl(fd, TIOCEXCL);
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
        int port = fd;
        fd.release();
        return std::make_unique<PosixSerialPort>(port);
    }

    std::unique_ptr<Socket> open_tcp(std::uint32_t address, std::uint16_t port, Failure* why) override {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
        if (fd < 0) {
            if (why) *why = failure_of(errno);
            return nullptr;
        }
        int flags = ::fcntl(fd, F_GETFL, 0);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
            if (why) *why = failure_of(errno);
            ::close(fd);
            return nullptr;
        }
        int one = 1;  // frames are small and each one waits for its answer
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = htonl(address);
        // Completes later; a failure known at once is kept for wait_connected.
        int connect_error = 0;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 && errno != EINPROGRESS &&
            errno != EINTR)
            connect_error = errno;
        return std::make_unique<PosixSocket>(fd, connect_error);
    }

    std::string read_profile(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& fallback) override {
        auto text = read_file(path);
        if (!text) return fallback;
        auto value = ini::get(*text, section, key);
        return value ? *value : fallback;
    }

    ProfileFile read_profile_file(const std::string& path) override {
        ProfileFile f;
        f.name = path;
        OwnedFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat st{};
        if (fd < 0) {
            f.failure = failure_of(errno);
        } else if (::fstat(fd, &st) != 0) {
            f.failure = failure_of(errno);
        } else if (S_ISDIR(st.st_mode)) {
            f.directory = true;
            f.failure = {Failure::Kind::other, "is a directory"};
        } else if (auto text = read_file(path)) {
            f.found = true;
            f.text = std::move(*text);
        } else {
            f.failure = {Failure::Kind::other, "not a regular file"};
        }
        return f;
    }

    bool write_profile(const std::string& path, const std::string& section,
                       std::span<const ProfileEntry> entries) override {
        const auto target = write_target(path);
        if (!target) return false;
        bool missing = false;
        auto text = read_file(*target, &missing);
        // A file that exists but cannot be read is not replaced by one with only these keys.
        if (!text && !missing) return false;
        if (!text) text.emplace();
        struct stat st{};
        const bool exists = ::stat(target->c_str(), &st) == 0;
        // A file made read-only stays as it is, as it would for an edit in place.
        if (exists && ::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0) return false;
        if (!ini::editable(*text)) return false;
        for (const auto& e : entries) *text = ini::set(*text, section, e.key, e.value);
        remove_leftovers(*target);

        // A new file beside the old one, renamed over it: never half a configuration file,
        // and all the keys or none.
        std::string temp;
        OwnedFd fd(make_temp(*target, temp));
        if (fd < 0) return false;
        bool ok = true;
        if (exists) {
            // The owner where this process may give it (root may; others only their own
            // groups), then the mode: a change of owner clears set-id bits.
            ok = ::fchown(fd, st.st_uid, st.st_gid) == 0 || errno == EPERM;
            ok = ::fchmod(fd, st.st_mode & 07777) == 0 && ok;
        } else {
            ok = ::fchmod(fd, 0644) == 0;
        }
        ok = ok && write_all(fd, *text) && ::fsync(fd) == 0;
        // Renamed while still open, so still locked: no clean-up takes it in between.
        const bool renamed = ok && ::rename(temp.c_str(), target->c_str()) == 0;
        if (!renamed) ::unlink(temp.c_str());
        ok = fd.close() && renamed;
        if (!ok) return false;
        // The rename itself lasts only once the directory is on disk. Some file systems
        // cannot sync a directory (EINVAL); the file is in place then all the same.
        OwnedFd dir(::open(directory_of(*target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return dir < 0 || ::fsync(dir) == 0 || errno == EINVAL;
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
