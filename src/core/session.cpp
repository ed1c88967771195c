#include "core/session.h"

#include "core/trace.h"

#include "api/zr.h"
#include "core/cause.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"

namespace zr::core {
namespace {

constexpr int kConnectWaitMs = 10000;

// What a session holds after a reconnect that failed: a link known lost, so that every call
// fails as it does on a lost link, until a reconnect succeeds or the session is closed.
class LostLink final : public link::Link {
public:
    explicit LostLink(const link::Profile& profile) : profile_(profile) {}
    const link::Profile& profile() const override { return profile_; }
    int send_frame(std::span<const std::uint8_t>, bool) override { return 0; }
    std::chrono::milliseconds receive_window() const override { return std::chrono::milliseconds(0); }
    bool lost() const override { return true; }
    void flush() override {}
    link::CloseResult close() override { return link::CloseResult::closed; }

protected:
    std::optional<std::span<const std::uint8_t>> pull(Clock) override { return std::nullopt; }
    link::Verdict screen(std::span<const std::uint8_t>, const link::Expect&) const override {
        return link::Verdict::other_code;
    }
    void trace_in(std::span<const std::uint8_t>, link::Verdict) override {}
    void drain_arrived() override {}

private:
    link::Profile profile_;
};

std::string dotted(std::uint32_t a) {
    return cause_text(a >> 24, '.', (a >> 16) & 0xFF, '.', (a >> 8) & 0xFF, '.', a & 0xFF);
}

link::Timing timing_of(const Settings& s) { return {s.whole_timing, s.min_gap_ms}; }

bool usable_address(const std::string& host, std::uint32_t& address) {
    return parse_ipv4(host, address) && address != 0 && address != 0xFFFFFFFFu;
}

// Thrown to end an exported call at once; its wrapper gives -16 with the cause set here.
struct Refused {};

// A trace callback runs inside the call that holds the session whose line it is given, and
// the session's lock lets that thread in again: a call on the session from there would take
// the running call's frames, or close the session under it. Refused before anything is sent.
void refuse_inside_own_trace(int handle) {
    if (!in_trace_callback_for(handle)) return;
    set_cause_of("handle ", handle, ": refused inside the trace callback of the call that holds it");
    throw Refused{};
}

}  // namespace

Library& Library::instance() {
    static Library library;
    return library;
}

const std::string& SessionGuard::config_path() const {
    static const std::string none;
    return hold_ ? hold_->session->config_path : none;
}

void Library::reset() {
    std::map<int, std::shared_ptr<Session>> gone;
    {
        std::lock_guard table(table_mutex_);
        gone.swap(sessions_);
    }
    {
        std::lock_guard lock(settings_mutex_);
        settings_ = std::make_shared<const Settings>();
    }
    device_class_ = 3;
}

std::shared_ptr<const Settings> Library::settings() const {
    std::lock_guard lock(settings_mutex_);
    return settings_;
}

SessionGuard Library::find(int handle) {
    if (handle == kNoHandle) return {};
    refuse_inside_own_trace(handle);
    std::shared_ptr<Session> session;
    {
        std::lock_guard table(table_mutex_);
        auto it = sessions_.find(handle);
        if (it == sessions_.end()) return {};
        session = it->second;
    }
    // Outside the table's lock: waiting here for another call on this session must not stop
    // calls on other sessions, nor opens and closes.
    std::unique_lock lock(session->mutex);
    if (session->closed) return {};
    SessionGuard guard;
    guard.hold_ = std::make_shared<SessionGuard::Hold>(SessionGuard::Hold{std::move(session), std::move(lock)});
    return guard;
}

int Library::add(std::unique_ptr<link::Link> link, const std::string& config_path, const Settings& settings) {
    auto session = std::make_shared<Session>();
    session->link = std::move(link);
    session->link->set_timing(timing_of(settings));
    session->config_path = config_path;
    session->settings = settings;
    auto snapshot = std::make_shared<const Settings>(settings);  // before the session counts as open
    int h;
    {
        std::lock_guard table(table_mutex_);
        // Handles are never reused, so a stale one can never reach a newer session.
        h = next_handle_++;
        if (next_handle_ <= 0) next_handle_ = 1;
    }
    auto tracer = std::make_shared<SessionTracer>(
        h, link_name(settings.port_type, settings.com_name, settings.host_name, settings.tcp_port), settings.trace_file);
    // An unusable trace file does not stop the session, but whoever asked for the trace would
    // otherwise never learn why none comes: the open succeeds and says so (ZRLastCause).
    std::string trace_problem = trace_env_problem();
    if (!tracer->problem().empty()) trace_problem += (trace_problem.empty() ? "" : "; ") + tracer->problem();
    if (!trace_problem.empty()) set_cause(std::move(trace_problem));
    session->tracer = std::move(tracer);
    session->link->set_tracer(session->tracer);
    // Not under the table's lock: a trace callback may call the library on other handles.
    // Before the session is in the table, so that this is its first line.
    session->link->trace_event("session opened");
    {
        std::lock_guard table(table_mutex_);
        sessions_.emplace(h, std::move(session));
    }
    // The session-wide settings are those of the last open that succeeded: a failed open
    // must not change what the open sessions use. Calls running keep the snapshot they took.
    std::lock_guard lock(settings_mutex_);
    settings_ = std::move(snapshot);
    return h;
}

int Library::connect(const Settings& s, std::unique_ptr<link::Link>& out) {
    if (s.port_type == "TCP") {
        std::uint32_t address = 0;
        if (!usable_address(s.host_name, address)) {
            set_cause_of("ZR_HOST_NAME '", s.host_name, "' is not a dotted IPv4 address");
            return ZR_ERR_OPEN_PORT;
        }
        const std::string peer = cause_text(dotted(address), ':', s.tcp_port);
        platform::Failure why;
        auto socket = os().open_tcp(address, s.tcp_port, &why);
        if (!socket) {
            set_cause_of("cannot set up a socket for ", peer, ": ", why.reason);
            return ZR_ERR_OPEN_PORT;
        }
        auto* sock = socket.get();
        auto tcp = std::make_unique<link::TcpLink>(std::move(socket));
        const auto ready = tcp->wait_connected(kConnectWaitMs);
        if (ready != platform::Ready::yes) {
            why = sock->failure();
            // Never connected: nothing to wait for before closing (the link's close would
            // wait for the socket to be writable and add half a second to the 10 s).
            sock->close();
            if (ready == platform::Ready::timeout)
                set_cause_of("no connection to ", peer, " within ", kConnectWaitMs / 1000, " s");
            else if (why.kind == platform::Failure::Kind::refused)
                set_cause_of("connection refused by ", peer);
            else
                set_cause_of("cannot connect to ", peer, why.reason.empty() ? "" : ": ", why.reason);
            return ZR_ERR_CONNECT;
        }
        out = std::move(tcp);
        return ZR_OK;
    }
    if (s.port_type == "COM") {
        platform::Failure why;
        auto port = os().open_serial(s.com_name, &why);
        if (!port) {
            switch (why.kind) {
                case platform::Failure::Kind::busy: set_cause_of("port ", s.com_name, " is in use"); break;
                case platform::Failure::Kind::not_a_port:
                    set_cause_of(s.com_name, " is not a serial port (", why.reason, ")");
                    break;
                default: set_cause_of("cannot open ", s.com_name, ": ", why.reason); break;
            }
            return ZR_ERR_OPEN_PORT;
        }
        out = std::make_unique<link::SerialLink>(std::move(port), os());
        return ZR_OK;
    }
    set_cause_of("ZR_PORT_TYPE '", s.port_type, "' is neither COM nor TCP");
    return 0;
}

int Library::open(int* handle, const char* path, const char* section) {
    if (!handle || !path || !section) {
        set_cause_of("ZROpen: ", !handle ? "handle" : !path ? "path" : "section", " is NULL");
        return ZR_ERR_ARGUMENT;
    }
    if (*handle != kNoHandle) {
        set_cause_of("ZROpen: the handle variable holds ", *handle, ", not -1 (close the session first)");
        return ZR_ERR_ALREADY_OPEN;
    }
    Settings s;
    if (!read_settings(os(), path, section, s)) {
        set_cause(settings_cause(os(), path, section, s, ZR_ERR_CONFIG));
        return ZR_ERR_CONFIG;
    }
    if (s.port_type != "TCP" && s.port_type != "COM") {
        set_cause(settings_cause(os(), path, section, s, 0));
        return 0;
    }
    if (auto why = timing_cause(s, section); !why.empty()) {
        set_cause(std::move(why));
        return ZR_ERR_CONFIG;
    }
    if (auto why = tcp_port_cause(s, section); !why.empty()) {
        set_cause(std::move(why));
        return ZR_ERR_CONFIG;
    }
    std::unique_ptr<link::Link> link;
    const int r = connect(s, link);
    if (r != ZR_OK) {
        // A key missing from the file reads as "0": say so rather than what "0" did.
        std::uint32_t address = 0;
        const bool host_at_fault = s.port_type == "TCP" && !usable_address(s.host_name, address);
        if (host_at_fault || (s.port_type == "COM" && r == ZR_ERR_OPEN_PORT)) {
            auto why = key_cause(os(), path, section, host_at_fault ? "ZR_HOST_NAME" : "ZR_COM_NUMBER");
            if (!why.empty()) set_cause(std::move(why));
        }
        *handle = kNoHandle;
        return r;
    }
    *handle = add(std::move(link), path, s);
    return ZR_OK;
}

int Library::reconnect(int handle) {
    const auto guard = find(handle);
    if (!guard) {
        set_cause_of("ZRReconnect: handle ", handle, " names no open session");
        return ZR_ERR_NO_SESSION;
    }
    Session& session = *guard.hold_->session;
    const link::Profile profile = session.link->profile();
    // Closed and gone before the new one opens: a serial port is held exclusively, and a
    // reader may take one connection at a time.
    session.link->close();
    session.link = std::make_unique<LostLink>(profile);
    std::unique_ptr<link::Link> fresh;
    const int r = connect(session.settings, fresh);
    if (r == ZR_OK) {
        session.link = std::move(fresh);
        session.link->set_timing(timing_of(session.settings));
        session.link->set_tracer(session.tracer);
        session.link->trace_event("link opened again");
    }
    return r;
}

int Library::link_state(int handle) {
    const auto guard = find(handle);
    if (!guard) return ZR_ERR_NO_SESSION;
    return guard.link()->lost() ? 0 : 1;
}

int Library::reply_timing(int handle) {
    const auto guard = find(handle);
    if (!guard) return ZR_ERR_NO_SESSION;
    return guard.link()->timing().whole ? ZR_REPLY_TIMING_WHOLE : ZR_REPLY_TIMING_FIXED;
}

int Library::set_reply_timing(int handle, int mode) {
    const auto guard = find(handle);
    if (!guard) {
        set_cause_of("ZRSetReplyTiming: handle ", handle, " names no open session");
        return ZR_ERR_NO_SESSION;
    }
    if (mode != ZR_REPLY_TIMING_FIXED && mode != ZR_REPLY_TIMING_WHOLE) {
        set_cause_of("ZRSetReplyTiming: mode ", mode, " is neither 0 (fixed) nor 1 (whole)");
        return ZR_ERR_ARGUMENT;
    }
    Session& session = *guard.hold_->session;
    session.settings.whole_timing = mode == ZR_REPLY_TIMING_WHOLE;  // a reconnect keeps it
    session.link->set_timing(timing_of(session.settings));
    session.link->trace_event(mode == ZR_REPLY_TIMING_WHOLE ? "reply timing: whole" : "reply timing: fixed");
    return ZR_OK;
}

int Library::close(int* handle) {
    if (!handle) return ZR_ERR_ARGUMENT;
    const int h = *handle;
    if (h == kNoHandle) return ZR_ERR_NO_SESSION;
    refuse_inside_own_trace(h);
    std::shared_ptr<Session> session;
    {
        std::lock_guard table(table_mutex_);
        auto it = sessions_.find(h);
        if (it == sessions_.end()) return ZR_ERR_NO_SESSION;
        session = it->second;
    }
    // Waits for a call running on the session; calls that wait behind this close get -1.
    std::lock_guard lock(session->mutex);
    if (session->closed) return ZR_ERR_NO_SESSION;  // another close came first
    auto release = [&] {
        session->closed = true;
        std::lock_guard table(table_mutex_);
        sessions_.erase(h);
    };
    switch (session->link->close()) {
        case link::CloseResult::closed:
            release();
            *handle = kNoHandle;
            return ZR_OK;
        case link::CloseResult::failed_released:
            release();
            *handle = kNoHandle;
            return ZR_CLOSE_FAILED;
        case link::CloseResult::not_ready:
        case link::CloseResult::failed_kept:
            break;
    }
    return ZR_CLOSE_FAILED;
}

}  // namespace zr::core

// ---- Exported -----------------------------------------------------------------------------

#include "core/exchange.h"

using zr::core::guarded;
using zr::core::Library;

extern "C" ZR_API int ZR_CALL ZROpen(int* handle, const char* path, const char* section) {
    return guarded([&] { return Library::instance().open(handle, path, section); });
}

extern "C" ZR_API int ZR_CALL ZRClose(int* handle) {
    return guarded([&] { return Library::instance().close(handle); });
}

extern "C" ZR_API int ZR_CALL ZRReconnect(int handle) {
    return guarded([&] { return Library::instance().reconnect(handle); });
}

extern "C" ZR_API int ZR_CALL ZRSetReplyTiming(int handle, int mode) {
    return guarded([&] { return Library::instance().set_reply_timing(handle, mode); });
}

extern "C" ZR_API int ZR_CALL ZRGetReplyTiming(int handle) {
    return guarded([&] { return Library::instance().reply_timing(handle); });
}

extern "C" ZR_API int ZR_CALL ZRLinkState(int handle) {
    // Not through guarded(): 0 is an answer here, not a failure with a cause.
    try {
        const int state = Library::instance().link_state(handle);
        if (state == ZR_ERR_NO_SESSION) zr::core::set_cause_of("ZRLinkState: handle ", handle, " names no open session");
        return state;
    } catch (...) {
        return ZR_ERR_INTERNAL;
    }
}
