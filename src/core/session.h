// Session-wide state of the loaded library and the table of open sessions.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/config.h"
#include "link/link.h"
#include "platform/platform.h"

namespace zr::core {

inline constexpr int kNoHandle = -1;

// One open session: its link and the file it was opened from.
struct Session {
    std::unique_ptr<link::Link> link;
    std::string config_path;
};

class Library {
public:
    // The one instance behind the exported functions.
    static Library& instance();

    int open(int* handle, const char* path, const char* section);
    int close(int* handle);
    // The link of an open session, or nullptr for -1 and for handles that name none.
    link::Link* find(int handle);
    // The configuration file the session was opened from (empty for no session).
    std::string config_path(int handle) const;

    Settings& settings() { return settings_; }
    std::uint8_t device_class() const { return device_class_; }
    void set_device_class(std::uint8_t c) { device_class_ = c; }
    platform::Platform& os() { return platform::current(); }

    // Back to the state at load: no sessions, empty settings, device class 3. For tests.
    void reset();

private:
    int add(std::unique_ptr<link::Link> link, const std::string& config_path, const Settings& settings);

    Settings settings_;
    std::uint8_t device_class_ = 3;
    std::map<int, Session> sessions_;
    int next_handle_ = 1;
};

}  // namespace zr::core
