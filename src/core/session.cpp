#include "core/session.h"

#include "api/zr.h"
#include "link/serial_link.h"
#include "link/tcp_link.h"

namespace zr::core {
namespace {
constexpr int kConnectWaitMs = 10000;
}

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
    session->config_path = config_path;
    auto snapshot = std::make_shared<const Settings>(settings);  // before the session counts as open
    int h;
    {
        std::lock_guard table(table_mutex_);
        // Handles are never reused, so a stale one can never reach a newer session.
        h = next_handle_++;
        if (next_handle_ <= 0) next_handle_ = 1;
        sessions_.emplace(h, std::move(session));
    }
    // The session-wide settings are those of the last open that succeeded: a failed open
    // must not change what the open sessions use. Calls running keep the snapshot they took.
    std::lock_guard lock(settings_mutex_);
    settings_ = std::move(snapshot);
    return h;
}

int Library::open(int* handle, const char* path, const char* section) {
    if (!handle || !path || !section) return ZR_ERR_ARGUMENT;
    if (*handle != kNoHandle) return ZR_ERR_ALREADY_OPEN;
    Settings s;
    if (!read_settings(os(), path, section, s)) return ZR_ERR_CONFIG;

    if (s.port_type == "TCP") {
        std::uint32_t address = 0;
        if (!parse_ipv4(s.host_name, address) || address == 0 || address == 0xFFFFFFFFu) {
            *handle = kNoHandle;
            return ZR_ERR_OPEN_PORT;
        }
        auto socket = os().open_tcp(address, link::kTcpPort);
        if (!socket) {
            *handle = kNoHandle;
            return ZR_ERR_OPEN_PORT;
        }
        auto tcp = std::make_unique<link::TcpLink>(std::move(socket));
        if (tcp->wait_connected(kConnectWaitMs) != platform::Ready::yes) {
            tcp->close();
            *handle = kNoHandle;
            return ZR_ERR_CONNECT;
        }
        *handle = add(std::move(tcp), path, s);
        return ZR_OK;
    }
    if (s.port_type == "COM") {
        auto port = os().open_serial(s.com_name);
        if (!port) {
            *handle = kNoHandle;
            return ZR_ERR_OPEN_PORT;
        }
        *handle = add(std::make_unique<link::SerialLink>(std::move(port), os()), path, s);
        return ZR_OK;
    }
    return 0;
}

int Library::close(int* handle) {
    if (!handle) return ZR_ERR_ARGUMENT;
    const int h = *handle;
    if (h == kNoHandle) return ZR_ERR_NO_SESSION;
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
