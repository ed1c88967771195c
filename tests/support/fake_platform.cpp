#include "fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "api/zr.h"
#include "core/session.h"
#include "model.h"
#include "platform/ini.h"

namespace zr::test {

namespace {

Bytes wire_of(const Peer& p, const Bytes& payload) {
    return p.serial ? sim::serial_wire(payload) : sim::with_crc(payload);
}

void queue_bytes(Peer& p, const Bytes& wire, microseconds at) {
    // Bytes queue behind what is already due, in order.
    if (!p.incoming.empty()) at = std::max(at, p.incoming.back().at);
    for (auto b : wire) p.incoming.push_back({at, b});
}

}  // namespace

// ---- Peer scripting ---------------------------------------------------------------------

void Peer::reply_next(const Bytes& payload, int delay_ms) { script.push_back({false, false, payload, delay_ms}); }
void Peer::reply_next_raw(const Bytes& wire, int delay_ms) { script.push_back({true, false, wire, delay_ms}); }
void Peer::silent_next() { script.push_back({false, true, {}, 0}); }

// Unasked bytes are stamped when the fake next looks at them: see FakePlatform::written.
void Peer::send(const Bytes& payload, int delay_ms) { send_raw(wire_of(*this, payload), delay_ms); }
void Peer::send_raw(const Bytes& wire, int delay_ms) {
    // `at` is relative until the platform stamps it; tests send before the call they make,
    // so "now" of the platform is the base. Stored as negative offsets are avoided by using
    // the platform's clock through the installed instance.
    auto base = platform::current().now();
    queue_bytes(*this, wire, base + milliseconds(delay_ms));
}

// ---- Fake ports -------------------------------------------------------------------------

namespace {

class FakeSerialPort final : public platform::SerialPort {
public:
    FakeSerialPort(FakePlatform& os, Peer& peer, std::function<void()> on_close)
        : os_(os), peer_(peer), on_close_(std::move(on_close)) {}
    ~FakeSerialPort() override {
        if (on_close_) on_close_();
    }
    int read_byte() override {
        if (peer_.incoming.empty() || peer_.incoming.front().at > os_.now()) return -1;
        auto b = peer_.incoming.front().byte;
        peer_.incoming.pop_front();
        return b;
    }
    bool write_byte(std::uint8_t byte) override {
        if (peer_.unplugged) return false;
        if (peer_.failing_writes > 0) {
            --peer_.failing_writes;
            return false;
        }
        os_.written(peer_, byte);
        return true;
    }
    int write(std::span<const std::uint8_t> bytes) override {
        ++peer_.writes;
        if (peer_.unplugged) return 0;
        if (peer_.failing_writes > 0) {
            --peer_.failing_writes;
            return 0;
        }
        for (auto b : bytes) os_.written(peer_, b);
        return static_cast<int>(bytes.size());
    }
    void flush() override { ++peer_.flushes; }
    bool wait_readable(microseconds limit) override {
        if (peer_.early_wake_us > 0) limit = std::min(limit, microseconds(peer_.early_wake_us));
        return os_.wait_input(peer_, limit);
    }
    bool gone() const override { return peer_.unplugged; }
    bool close() override {
        if (peer_.close_fails) return false;
        peer_.closed = true;
        if (on_close_) on_close_();
        on_close_ = nullptr;
        return true;
    }

private:
    FakePlatform& os_;
    Peer& peer_;
    std::function<void()> on_close_;
};

class FakeSocket final : public platform::Socket {
public:
    FakeSocket(FakePlatform& os, Peer* peer) : os_(os), peer_(peer) {}
    platform::Ready wait_connected(int ms) override {
        if (!peer_ || peer_->refuse) return platform::Ready::error;
        if (peer_->never_connects || peer_->connect_ms > ms) {
            os_.advance(milliseconds(ms));
            return platform::Ready::timeout;
        }
        os_.advance(milliseconds(peer_->connect_ms));
        return platform::Ready::yes;
    }
    platform::Ready wait_writable(int ms) override {
        if (peer_->not_writable) {
            os_.advance(milliseconds(ms));
            return platform::Ready::timeout;
        }
        return platform::Ready::yes;
    }
    platform::Ready wait_readable(int ms) override {
        if (peer_->hang_up && peer_->incoming.empty()) return platform::Ready::yes;
        return os_.wait_input(*peer_, milliseconds(ms)) ? platform::Ready::yes : platform::Ready::timeout;
    }
    int send(std::span<const std::uint8_t> bytes) override {
        if (peer_->hang_up) return -1;  // broken pipe
        if (peer_->failing_writes > 0) {
            --peer_->failing_writes;
            return platform::kWouldBlock;
        }
        auto n = peer_->send_limit ? std::min(bytes.size(), peer_->send_limit) : bytes.size();
        for (std::size_t i = 0; i < n; ++i) os_.written(*peer_, bytes[i]);
        return static_cast<int>(n);
    }
    int recv(std::span<std::uint8_t> bytes) override {
        std::size_t n = 0;
        while (n < bytes.size() && !peer_->incoming.empty() && peer_->incoming.front().at <= os_.now()) {
            bytes[n++] = peer_->incoming.front().byte;
            peer_->incoming.pop_front();
        }
        if (n == 0 && !peer_->hang_up) return platform::kWouldBlock;
        return static_cast<int>(n);
    }
    bool close() override {
        if (peer_) peer_->closed = true;
        return !(peer_ && peer_->close_fails);
    }

private:
    FakePlatform& os_;
    Peer* peer_;
};

}  // namespace

// ---- Platform ---------------------------------------------------------------------------

FakePlatform::FakePlatform() {
    platform::install(this);
    core::Library::instance().reset();
}

FakePlatform::~FakePlatform() {
    core::Library::instance().reset();
    platform::install(nullptr);
}

Peer& FakePlatform::serial(const std::string& name) {
    auto& p = serial_[name];
    if (!p) p = std::make_unique<Peer>(true);
    return *p;
}

Peer& FakePlatform::tcp(const std::string& address) {
    auto& p = tcp_[address];
    if (!p) p = std::make_unique<Peer>(false);
    return *p;
}

void FakePlatform::sleep_ms(int ms) {
    sleeps.push_back(ms);
    now_ += milliseconds(ms);
}

bool FakePlatform::wait_input(Peer& p, microseconds limit) {
    if (!p.incoming.empty() && p.incoming.front().at <= now_) return true;
    if (!p.incoming.empty() && p.incoming.front().at <= now_ + limit) {
        now_ = p.incoming.front().at;
        return true;
    }
    now_ += limit;
    return false;
}

void FakePlatform::written(Peer& p, std::uint8_t byte) {
    p.written.push_back(byte);
    for (auto& request : p.decoder.feed(std::span<const std::uint8_t>(&byte, 1))) {
        p.requests.push_back(request);
        if (!p.script.empty()) {
            auto s = p.script.front();
            p.script.pop_front();
            if (s.silent) continue;
            queue_bytes(p, s.raw ? s.bytes : wire_of(p, s.bytes), now_ + milliseconds(s.delay_ms));
        } else if (p.model) {
            for (const auto& r : p.model->handle(request))
                queue_bytes(p, wire_of(p, r), now_ + milliseconds(p.model_delay_ms));
        }
    }
}

std::unique_ptr<platform::SerialPort> FakePlatform::open_serial(const std::string& name, platform::Failure* why) {
    using Kind = platform::Failure::Kind;
    auto it = serial_.find(name);
    if (it == serial_.end() || it->second->refuse) {
        if (why) *why = {Kind::missing, "no such file or directory"};
        return nullptr;
    }
    if (open_serial_names_[name]++ > 0) {  // exclusive, like the real ports
        --open_serial_names_[name];
        if (why) *why = {Kind::busy, "in use"};
        return nullptr;
    }
    it->second->closed = false;
    return std::make_unique<FakeSerialPort>(*this, *it->second, [this, name] { --open_serial_names_[name]; });
}

std::unique_ptr<platform::Socket> FakePlatform::open_tcp(std::uint32_t address, std::uint16_t port,
                                                         platform::Failure*) {
    tcp_opens.push_back(port);
    if (port != tcp_port) return nullptr;
    std::string dotted = std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
                         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
    auto it = tcp_.find(dotted);
    Peer* peer = it == tcp_.end() ? nullptr : it->second.get();
    if (peer) peer->closed = false;
    return std::make_unique<FakeSocket>(*this, peer);
}

std::string FakePlatform::read_profile(const std::string& path, const std::string& section,
                                       const std::string& key, const std::string& fallback) {
    auto it = files.find(path);
    if (it == files.end()) return fallback;
    auto v = platform::ini::get(it->second, section, key);
    return v ? *v : fallback;
}

bool FakePlatform::write_profile(const std::string& path, const std::string& section,
                                 std::span<const platform::ProfileEntry> entries) {
    auto& write = profile_writes.emplace_back(ProfileWrite{section, {}});
    for (const auto& e : entries) write.keys.push_back(e.key);
    auto it = files.find(path);
    std::string text = it == files.end() ? std::string() : it->second;
    if (profile_writes_fail || !platform::ini::editable(text)) return false;
    for (const auto& e : entries) text = platform::ini::set(text, section, e.key, e.value);
    files[path] = text;
    return true;
}

int open_fake(FakePlatform& fake, const std::string& port_type, const std::string& name, int& handle,
              const std::string& extra_keys) {
    std::string ini = "[reader]\nZR_PORT_TYPE=" + port_type + "\nZR_COM_NUMBER=" +
                      (port_type == "COM" ? name : std::string("COM1")) + "\nZR_HOST_NAME=" +
                      (port_type == "TCP" ? name : std::string("127.0.0.1")) + "\n" + extra_keys;
    fake.files["/fake/zr.ini"] = ini;
    handle = -1;
    return ZROpen(&handle, "/fake/zr.ini", "reader");
}

Rig::Rig(const LinkCase& l, const std::string& extra_keys) : peer(peer_of(fake, l)), serial(l.serial) {
    EXPECT_EQ(open_fake(fake, l.type, l.name, h, extra_keys), 1);
    fake.sleeps.clear();
}

}  // namespace zr::test
