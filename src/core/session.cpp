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

void Library::reset() {
    sessions_.clear();
    settings_ = Settings{};
    device_class_ = 3;
}

link::Link* Library::find(int handle) {
    if (handle == kNoHandle) return nullptr;
    auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : it->second.link.get();
}

std::string Library::config_path(int handle) const {
    auto it = handle == kNoHandle ? sessions_.end() : sessions_.find(handle);
    return it == sessions_.end() ? std::string() : it->second.config_path;
}

int Library::add(std::unique_ptr<link::Link> link, const std::string& config_path, const Settings& settings) {
    // Handles are never reused, so a stale one can never reach a newer session.
    int h = next_handle_++;
    if (next_handle_ <= 0) next_handle_ = 1;
    sessions_.emplace(h, Session{std::move(link), config_path});
    // The session-wide settings are those of the last open that succeeded: a failed open
    // must not change what the open sessions use.
    settings_ = settings;
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
    auto it = *handle == kNoHandle ? sessions_.end() : sessions_.find(*handle);
    if (it == sessions_.end()) return ZR_ERR_NO_SESSION;
    switch (it->second.link->close()) {
        case link::CloseResult::closed:
            sessions_.erase(it);
            *handle = kNoHandle;
            return ZR_OK;
        case link::CloseResult::failed_released:
            sessions_.erase(it);
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
