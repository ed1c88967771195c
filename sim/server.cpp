#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <sstream>

namespace zr::sim {

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kOutputCap = 1 << 20;  // a client that never reads cannot make us grow forever

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK); }

}  // namespace

struct Simulator::Connection {
    int fd;
    bool serial;
    FrameDecoder decoder;
    struct Pending {
        Clock::time_point due;
        Bytes bytes;
    };
    std::deque<Pending> out;
    std::size_t queued = 0;
    bool closing = false;
    Connection(int f, bool s) : fd(f), serial(s), decoder(s) {}
};

Simulator::Simulator() : started_(Clock::now()) {
    if (::pipe(wake_) == 0) {
        set_nonblocking(wake_[0]);
        set_nonblocking(wake_[1]);
    }
}

Simulator::~Simulator() {
    stop();
    for (auto& c : connections_) ::close(c->fd);
    for (int l : listeners_) ::close(l);
    if (pty_slave_ >= 0) ::close(pty_slave_);
    for (auto& c : controls_)
        if (c.own) ::close(c.in);
    if (control_listener_ >= 0) {
        ::close(control_listener_);
        ::unlink(control_path_.c_str());
    }
    for (int fd : wake_)
        if (fd >= 0) ::close(fd);
}

std::chrono::milliseconds Simulator::clock() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started_);
}

bool Simulator::listen_tcp(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    set_nonblocking(fd);
    std::lock_guard lock(mutex_);
    listeners_.push_back(fd);
    return true;
}

bool Simulator::open_pty(std::string& slave_path, std::string& error) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0) ::close(master);
        return false;
    }
    const char* name = ::ptsname(master);
    slave_path = name ? name : "";
    // Holding the slave open keeps the master readable while no client has the port, and
    // the raw mode set here is what a client finds before it sets its own.
    int slave = ::open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
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
    std::lock_guard lock(mutex_);
    if (pty_slave_ >= 0) ::close(pty_slave_);
    pty_slave_ = slave;
    connections_.push_back(std::make_unique<Connection>(master, true));
    return true;
}

void Simulator::set_trace(std::function<void(const std::string&)> sink) {
    std::lock_guard lock(mutex_);
    trace_ = std::move(sink);
}

void Simulator::trace(const std::string& line) {
    if (trace_) trace_(line);
}

void Simulator::set_fault(int code, Fault f) {
    std::lock_guard lock(mutex_);
    faults_.set(code, f);
}

void Simulator::clear_faults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

bool Simulator::add_fault(const std::string& spec, std::string& error) {
    std::lock_guard lock(mutex_);
    return faults_.parse(spec, error);
}

void Simulator::set_latency(int code, Latency l) {
    std::lock_guard lock(mutex_);
    latencies_.set(code, l);
}

void Simulator::clear_latencies() {
    std::lock_guard lock(mutex_);
    latencies_.clear();
    held_until_.clear();
}

bool Simulator::add_latency(const std::string& text, std::string& error) {
    std::lock_guard lock(mutex_);
    return latencies_.parse(text, error);
}

std::vector<Bytes> Simulator::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void Simulator::clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

bool Simulator::apply_locked(const FieldEvent& e, std::string& error) { return apply_field_event(model_, e, error); }

bool Simulator::apply(const FieldEvent& e, std::string& error) {
    std::lock_guard lock(mutex_);
    return apply_locked(e, error);
}

bool Simulator::add_tag(const Bytes& epc, std::uint8_t antenna, std::string* error) {
    std::string why;
    const bool ok = apply({FieldEvent::add, epc, antenna, {}, {}}, why);
    if (error) *error = why;
    return ok;
}

bool Simulator::remove_tag(const Bytes& epc, std::string* error) {
    std::string why;
    const bool ok = apply({FieldEvent::remove, epc, 0, {}, {}}, why);
    if (error) *error = why;
    return ok;
}

bool Simulator::move_tag(const Bytes& epc, std::uint8_t antenna, std::string* error) {
    std::string why;
    const bool ok = apply({FieldEvent::move, epc, antenna, {}, {}}, why);
    if (error) *error = why;
    return ok;
}

void Simulator::play(Scenario s, std::function<void(const std::string&)> on_error) {
    std::lock_guard lock(mutex_);
    player_.emplace(std::move(s), clock());
    on_scenario_error_ = std::move(on_error);
}

std::vector<std::string> Simulator::control_locked(const std::string& line) {
    std::istringstream words(line);
    std::string verb, more;
    words >> verb >> more;
    if (verb == "list" && more.empty()) {
        auto out = describe_field(model_);
        out.push_back("ok");
        return out;
    }
    FieldEvent e;
    std::string error;
    if (!parse_field_event(line, e, error) || !apply_locked(e, error)) return {"error: " + error};
    return {"ok"};
}

std::vector<std::string> Simulator::control(const std::string& line) {
    std::lock_guard lock(mutex_);
    return control_locked(line);
}

bool Simulator::listen_control(const std::string& path, std::string& error) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof a.sun_path) {
        error = "control socket path '" + path + "' is empty or too long";
        return false;
    }
    std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // A socket left by a simulator that did not get to clean up is ours to replace.
        if (!S_ISSOCK(st.st_mode)) {
            error = "will not replace " + path + ": it is not a socket";
            return false;
        }
        ::unlink(path.c_str());
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    set_nonblocking(fd);
    std::lock_guard lock(mutex_);
    if (control_listener_ >= 0) {
        ::close(control_listener_);
        ::unlink(control_path_.c_str());
    }
    control_listener_ = fd;
    control_path_ = path;
    return true;
}

void Simulator::control_stream(int in, int out) {
    std::lock_guard lock(mutex_);
    controls_.push_back({in, out, false, {}});
}

// Reads what a control client sent and answers each whole line.
void Simulator::serve_control(ControlClient& c) {
    char buf[1024];
    auto n = ::read(c.in, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        c.gone = true;
        return;
    }
    c.pending.append(buf, static_cast<std::size_t>(n));
    for (auto eol = c.pending.find('\n'); eol != std::string::npos; eol = c.pending.find('\n')) {
        std::string line = c.pending.substr(0, eol);
        c.pending.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        std::string answer;
        for (const auto& l : control_locked(line)) answer += l + "\n";
        // Answers are short; a client that does not read them loses them rather than stalling
        // the reader.
        [[maybe_unused]] auto w = c.own ? ::send(c.out, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
                                        : ::write(c.out, answer.data(), answer.size());
    }
    if (c.pending.size() > 4096) c.pending.clear();  // no line is that long
}

void Simulator::start() {
    if (thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { run(stopping_); });
}

void Simulator::stop() {
    stopping_ = true;
    if (wake_[1] >= 0) {
        char b = 1;
        [[maybe_unused]] auto n = ::write(wake_[1], &b, 1);
    }
    if (thread_.joinable()) thread_.join();
}

void Simulator::run(const std::atomic<bool>& stop_flag) {
    while (!stop_flag) serve_once(5);
}

std::size_t Simulator::unsent() const {
    std::lock_guard lock(mutex_);
    std::size_t n = model_.pushed_waiting();
    for (const auto& c : connections_) n += c->queued;
    return n;
}

void Simulator::queue(Connection& c, const WireReply& w, Clock::time_point now) {
    auto due = now;
    if (!c.out.empty()) due = std::max(due, c.out.back().due);
    for (const auto& chunk : w.chunks) {
        due += std::chrono::milliseconds(chunk.delay_ms);
        if (c.queued + chunk.bytes.size() > kOutputCap) break;
        c.queued += chunk.bytes.size();
        c.out.push_back({due, chunk.bytes});
    }
    if (w.close && !c.serial) c.closing = true;  // a serial line cannot hang up
}

void Simulator::read_from(Connection& c) {
    std::uint8_t buf[4096];
    auto n = ::read(c.fd, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)) {
        if (!c.serial) c.closing = true, c.out.clear();
        return;
    }
    if (n < 0) return;
    const auto now = Clock::now();
    for (auto& payload : c.decoder.feed(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)))) {
        requests_.push_back(payload);
        trace("<- " + hex(with_crc(payload)) + "  " + command_name(payload[2]));
        const std::uint8_t code = payload[2];
        auto replies = model_.handle(payload);
        const auto latency = latencies_.draw(code);
        if (replies.empty()) {
            // Answered later by frames of its own code (an alarm start): the first of them is
            // what the latency delays. A listen acknowledgement is not answered at all.
            const auto* info = protocol::find_command(code);
            if (info && info->answer == protocol::Answer::reports && latency.count() > 0)
                held_until_[code] = now + latency;
            continue;
        }
        // A fault hits what the reader sends: a request it does not answer (an alarm start, a
        // listen acknowledgement) leaves the plan for the frames that follow.
        const auto fault = faults_.take(code);
        const std::string note = latency.count() > 0 ? "  (in " + std::to_string(latency.count()) + " ms)" : "";
        for (const auto& r : replies) trace_reply(r, fault, note.c_str());
        queue(c, to_wire(replies, fault, c.serial), now + latency);
    }
}

// A reply as it goes out, after its fault: "-> frame  NAME", or "-x" and the frame that a
// fault kept from going out.
void Simulator::trace_reply(const Bytes& payload, const std::optional<Fault>& fault, const char* note) {
    const auto sent = frame_as_sent(payload, fault);
    const std::uint8_t code = payload.size() > 2 ? payload[2] : 0;
    trace((sent ? "-> " + hex(*sent) : "-x " + hex(with_crc(payload))) + "  " + command_name(code) + note +
          (fault ? "  [" + describe(*fault) + "]" : ""));
}

void Simulator::write_due(Connection& c, Clock::time_point now) {
    while (!c.out.empty() && c.out.front().due <= now) {
        auto& p = c.out.front();
        auto n = c.serial ? ::write(c.fd, p.bytes.data(), p.bytes.size())
                          : ::send(c.fd, p.bytes.data(), p.bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) return;
            if (!c.serial) c.closing = true;
            c.out.clear();
            c.queued = 0;
            return;
        }
        c.queued -= static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < p.bytes.size()) {
            p.bytes.erase(p.bytes.begin(), p.bytes.begin() + n);
            return;
        }
        c.out.pop_front();
    }
}

void Simulator::accept_clients(int listener) {
    for (;;) {
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        // A reader sends each frame as it is ready: with Nagle on, a report that follows
        // another waits for the client's delayed ACK (about 40 ms).
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        connections_.push_back(std::make_unique<Connection>(fd, false));
    }
}

void Simulator::serve_once(int timeout_ms) {
    std::vector<pollfd> fds;
    {
        std::lock_guard lock(mutex_);
        auto now = Clock::now();
        for (auto& c : connections_) {
            // Rounded up: rounded down, poll wakes just before the frame is due and spins.
            auto until = c->out.empty() ? timeout_ms
                         : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(c->out.front().due - now).count());
            timeout_ms = std::max(0, std::min(timeout_ms, until));
        }
        fds.push_back({wake_[0], POLLIN, 0});
        for (int l : listeners_) fds.push_back({l, POLLIN, 0});
        for (auto& c : connections_) fds.push_back({c->fd, POLLIN, 0});
        if (control_listener_ >= 0) fds.push_back({control_listener_, POLLIN, 0});
        for (auto& c : controls_) fds.push_back({c.in, POLLIN, 0});
    }
    ::poll(fds.data(), fds.size(), timeout_ms);

    std::lock_guard lock(mutex_);
    if (fds[0].revents) {
        char drain[64];
        while (::read(wake_[0], drain, sizeof drain) > 0) {
        }
    }
    std::size_t i = 1;
    for (int l : listeners_)
        if (i < fds.size() && fds[i++].revents) accept_clients(l);
    for (auto& c : connections_)
        for (std::size_t k = 1 + listeners_.size(); k < fds.size(); ++k)
            if (fds[k].fd == c->fd && fds[k].revents) read_from(*c);
    auto ready = [&](int fd) {
        return std::any_of(fds.begin() + 1, fds.end(), [&](const pollfd& p) { return p.fd == fd && p.revents; });
    };
    for (auto& c : controls_)
        if (ready(c.in)) serve_control(c);
    std::erase_if(controls_, [](const ControlClient& c) {
        if (!c.gone) return false;
        if (c.own) ::close(c.in);
        return true;
    });
    if (control_listener_ >= 0 && ready(control_listener_))
        for (int fd; (fd = ::accept4(control_listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
            controls_.push_back({fd, fd, true, {}});
    if (player_)
        for (const auto& t : player_->due(clock())) {
            std::string error;
            if (!apply_locked(t.event, error) && on_scenario_error_)
                on_scenario_error_("line " + std::to_string(t.line) + ": " + error);
        }

    const auto now = Clock::now();
    // Frames the reader sends on its own go through the fault plan like replies do.
    struct Pushed {
        Bytes payload;
        std::optional<Fault> fault;
    };
    std::vector<Pushed> pushed;
    for (auto& p : model_.unsolicited(clock())) {
        auto code = p.size() > 2 ? p[2] : std::uint8_t{0};
        auto fault = faults_.take(code);
        trace_reply(p, fault, "  (unsolicited)");
        pushed.push_back({std::move(p), fault});
    }
    std::erase_if(held_until_, [&](const auto& held) { return held.second <= now; });
    for (auto& c : connections_) {
        for (const auto& p : pushed) {
            auto due = now;
            if (auto held = held_until_.find(p.payload.size() > 2 ? p.payload[2] : 0); held != held_until_.end())
                due = held->second;
            if (!c->closing) queue(*c, to_wire({p.payload}, p.fault, c->serial), due);
        }
        write_due(*c, now);
    }
    // A closing connection goes once what it had to say is out.
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) {
        if (!c->closing || !c->out.empty()) return false;
        ::close(c->fd);
        return true;
    });
}

}  // namespace zr::sim
