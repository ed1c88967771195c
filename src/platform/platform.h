// The only seam to the operating system. Everything above this header is portable
// and can run against the fake platform with virtual time in unit tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace zr::platform {

// A serial port opened at 19200 8N1, raw, with reads that return at once.
class SerialPort {
public:
    virtual ~SerialPort() = default;
    // One byte 0-255, or -1 when nothing is waiting. Never blocks.
    virtual int read_byte() = 0;
    // true when the byte was handed to the port.
    virtual bool write_byte(std::uint8_t byte) = 0;
    // Hands `bytes` to the port in as few system calls as it takes: the count handed over,
    // which is short only when the port failed or stayed full for a second.
    virtual int write(std::span<const std::uint8_t> bytes) = 0;
    // Waits until output has left the host (FlushFileBuffers / tcdrain); result ignored by callers.
    virtual void flush() = 0;
    // Waits up to `limit` for input; true when a byte is waiting. Used only inside a frame,
    // so that a slow line does not look like a dead one.
    virtual bool wait_readable(std::chrono::microseconds limit) = 0;
    // false when the OS refused to close the port (the port is then still held).
    virtual bool close() = 0;
    // The device has gone (unplugged, hung up): reads and writes cannot succeed any more.
    virtual bool gone() const = 0;
};

// Why an open or a connection failed, for the message the application gets.
struct Failure {
    enum class Kind { none, missing, denied, busy, not_a_port, refused, other };
    Kind kind = Kind::none;
    std::string reason;  // the system's words, lower case ("permission denied"); may be empty
};

// A profile file as read_profile finds it, read again to tell why settings are missing.
struct ProfileFile {
    std::string name;          // the file looked at (a bare name may live elsewhere on Windows)
    bool found = false;        // `text` holds the file's bytes
    bool directory = false;
    std::string text;
    Failure failure;           // when not found
};

// What send and recv give when the call would have to wait: nothing moved, try again later.
inline constexpr int kWouldBlock = -2;

enum class Ready { yes, timeout, error };

// A non-blocking IPv4 stream socket whose connect has been started.
class Socket {
public:
    virtual ~Socket() = default;
    // Connection attempt finished within `ms`? `error` when it is known to have failed.
    virtual Ready wait_connected(int ms) = 0;
    virtual Ready wait_writable(int ms) = 0;
    virtual Ready wait_readable(int ms) = 0;
    // One send/recv call: byte count, 0 (recv: peer closed), kWouldBlock, or -1 when the
    // connection is broken (reset, broken pipe).
    virtual int send(std::span<const std::uint8_t> bytes) = 0;
    virtual int recv(std::span<std::uint8_t> bytes) = 0;
    // false when the OS reported a failure; the socket is released either way.
    virtual bool close() = 0;
    // Why the connection failed or broke, once wait_connected, send or recv reported it.
    virtual Failure failure() const { return {}; }
};

struct ProfileEntry {
    std::string key;
    std::string value;
};

class Platform {
public:
    virtual ~Platform() = default;
    // nullptr unless `name` is a terminal device that could be opened for this process alone;
    // then `why`, when given, says what stood in the way.
    virtual std::unique_ptr<SerialPort> open_serial(const std::string& name, Failure* why = nullptr) = 0;
    // Starts a non-blocking connect to `address`:`port`; nullptr when no socket could be set up.
    virtual std::unique_ptr<Socket> open_tcp(std::uint32_t address_host_order, std::uint16_t port,
                                             Failure* why = nullptr) = 0;
    // Profile strings with the semantics of the Windows private-profile functions.
    virtual std::string read_profile(const std::string& path, const std::string& section,
                                     const std::string& key, const std::string& fallback) = 0;
    // Sets every key of `entries` in `section`, all or nothing: true when the file holds them
    // all, false when it was left as it was. Other lines and, on POSIX, a symbolic link, the
    // owner and the mode are kept.
    virtual bool write_profile(const std::string& path, const std::string& section,
                               std::span<const ProfileEntry> entries) = 0;
    // The file read_profile reads for `path`, with its text. Only to explain a failed open:
    // nothing else depends on it (the base version knows nothing).
    virtual ProfileFile read_profile_file(const std::string& path) {
        ProfileFile f;
        f.name = path;
        return f;
    }
    virtual void sleep_ms(int ms) = 0;
    // Monotonic clock.
    virtual std::chrono::microseconds now() = 0;
};

// The platform the library runs on: the real one unless a test installed another.
Platform& current();
// Installs `replacement` (nullptr restores the real platform). For tests.
void install(Platform* replacement);
// The real platform of this OS.
Platform& native();

}  // namespace zr::platform
