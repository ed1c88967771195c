// A platform with virtual time and scripted peers: sleeps advance the clock at once, a wait
// for input jumps to the moment the peer's next bytes are due. The whole stack from an
// exported function down to the bytes on the wire runs in microseconds, deterministically.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "wire.h"

namespace zr::sim {
class ReaderModel;
}

namespace zr::test {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// The other end of one port or connection.
struct Peer {
    explicit Peer(bool serial_link) : serial(serial_link), decoder(serial_link) {}
    const bool serial;

    // What the library did.
    Bytes written;                // every byte, as on the wire
    std::vector<Bytes> requests;  // request payloads with a good CRC (CRC removed)
    int flushes = 0;
    int writes = 0;  // serial: whole-buffer writes (byte writes are not counted here)
    bool closed = false;

    // What the peer does. Replies are payloads (LEN, code, status, data); the fake adds the
    // CRC and, on serial, the start byte and stuffing.
    void reply_next(const Bytes& payload, int delay_ms = 0);   // to the next request
    void reply_next_raw(const Bytes& wire, int delay_ms = 0);  // bytes exactly as given
    void silent_next();                                        // the next request gets nothing
    void send(const Bytes& payload, int delay_ms = 0);         // now, unasked
    void send_raw(const Bytes& wire, int delay_ms = 0);
    // Every request without a scripted reply goes to this model (if set).
    sim::ReaderModel* model = nullptr;
    int model_delay_ms = 0;

    // Failures.
    bool refuse = false;           // serial: open fails; TCP: connection refused
    bool never_connects = false;   // TCP: the connect never completes
    int connect_ms = 0;            // TCP: the connect completes after this long
    int failing_writes = 0;        // the next N writes/sends fail
    std::size_t send_limit = 0;    // TCP: at most this many bytes per send call (0: all)
    bool not_writable = false;     // TCP: select never reports writable
    bool close_fails = false;
    bool hang_up = false;          // TCP: the peer has closed; recv returns 0 once drained
    bool unplugged = false;        // serial: the device has gone; every write fails
    int early_wake_us = 0;         // serial: a wait for input returns after at most this long

    // Internals used by the fake ports.
    struct Due {
        microseconds at;
        std::uint8_t byte;
    };
    std::deque<Due> incoming;
    struct Scripted {
        bool raw;
        bool silent;
        Bytes bytes;
        int delay_ms;
    };
    std::deque<Scripted> script;
    sim::FrameDecoder decoder;
};

class FakePlatform final : public platform::Platform {
public:
    FakePlatform();   // installs itself
    ~FakePlatform() override;  // restores the real platform

    Peer& serial(const std::string& name);
    Peer& tcp(const std::string& dotted_address);

    // Virtual time.
    microseconds now() override { return now_; }
    void sleep_ms(int ms) override;
    void advance(microseconds d) { now_ += d; }
    std::vector<int> sleeps;  // every sleep_ms, in order

    std::uint16_t tcp_port = 7086;         // the port the fake TCP readers listen on
    std::vector<std::uint16_t> tcp_opens;  // the port of every open_tcp, in order

    // INI files kept in memory, with the same parsing as on disk.
    std::map<std::string, std::string> files;

    std::unique_ptr<platform::SerialPort> open_serial(const std::string& name,
                                                      platform::Failure* why = nullptr) override;
    std::unique_ptr<platform::Socket> open_tcp(std::uint32_t address, std::uint16_t port,
                                               platform::Failure* why = nullptr) override;
    std::string read_profile(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& fallback) override;
    bool write_profile(const std::string& path, const std::string& section,
                       std::span<const platform::ProfileEntry> entries) override;
    // Every write_profile call, in order: the section and the keys it set.
    struct ProfileWrite {
        std::string section;
        std::vector<std::string> keys;
    };
    std::vector<ProfileWrite> profile_writes;
    bool profile_writes_fail = false;  // write_profile changes nothing and returns false

    // Shared by the fake ports.
    void written(Peer& p, std::uint8_t byte);
    bool wait_input(Peer& p, microseconds limit);

private:
    microseconds now_{1'000'000};
    std::map<std::string, std::unique_ptr<Peer>> serial_, tcp_;
    std::map<std::string, int> open_serial_names_;
};

// Opens a session of the library on a fake peer through an in-memory INI file.
int open_fake(FakePlatform& fake, const std::string& port_type, const std::string& name, int& handle,
              const std::string& extra_keys = "");

// The two links, for tests that run each case on both.
struct LinkCase {
    const char* type;  // "COM" or "TCP"
    const char* name;
    bool serial;
};
inline const LinkCase kLinks[] = {{"COM", "COM3", true}, {"TCP", "192.0.2.7", false}};

inline Peer& peer_of(FakePlatform& fake, const LinkCase& l) {
    return l.serial ? fake.serial(l.name) : fake.tcp(l.name);
}

// A session on the link's fake peer, ready for one call: sleeps so far are forgotten.
struct Rig {
    explicit Rig(const LinkCase& l, const std::string& extra_keys = "");
    // Flushes the command itself did (the serial link also flushes before every byte it writes).
    int command_flushes() const { return peer.flushes - static_cast<int>(peer.written.size()); }
    FakePlatform fake;
    Peer& peer;
    bool serial;
    int h = -1;
};

}  // namespace zr::test
