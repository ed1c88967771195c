// Session-wide state of the loaded library and the table of open sessions.
//
// Threads: calls on different sessions run in parallel; a call holds its own session's lock
// for its whole exchange, so calls on one session take turns. The table's lock is held only
// to look a handle up, add or remove one, never while anything waits on a reader.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/config.h"
#include "link/link.h"
#include "platform/platform.h"

namespace zr::core {

inline constexpr int kNoHandle = -1;

// A session's lock. Calls take it in the order they asked for it, so none waits behind calls
// that came after it (a close waits for the calls before it, not for every later one).
// A thread holding it may take it again: a call made of several exchanges (a byte-wise
// write, a listen and its answer) keeps it while each of them takes it.
class TurnLock {
public:
    void lock() {
        const auto self = std::this_thread::get_id();
        std::unique_lock l(m_);
        if (depth_ > 0 && owner_ == self) {
            ++depth_;
            return;
        }
        const std::uint64_t ticket = next_++;
        turn_.wait(l, [&] { return serving_ == ticket; });
        owner_ = self;
        depth_ = 1;
    }
    void unlock() {
        std::lock_guard l(m_);
        if (--depth_ > 0) return;
        owner_ = {};
        ++serving_;
        turn_.notify_all();
    }
    // Threads waiting for their turn, for tests of the order.
    std::uint64_t waiting() {
        std::lock_guard l(m_);
        return next_ - serving_ - (depth_ > 0 ? 1 : 0);
    }

private:
    std::mutex m_;
    std::condition_variable turn_;
    std::uint64_t next_ = 0, serving_ = 0;
    std::thread::id owner_;
    int depth_ = 0;
};

// One open session: its link, the file it was opened from and the settings read from it
// (which a reconnect uses again).
struct Session {
    std::unique_ptr<link::Link> link;  // never null while the session is in the table
    std::string config_path;
    Settings settings;
    std::shared_ptr<link::Tracer> tracer;  // the session's trace, on every link it opens
    TurnLock mutex;  // held by a call for its whole exchange
    bool closed = false;  // under `mutex`: a call that gets the lock after the close gets -1
};

// A call's hold on one session: the session stays alive and locked while any copy lives.
// Empty for a handle that names no open session. Copies share one hold on one thread.
class SessionGuard {
public:
    SessionGuard() = default;
    explicit operator bool() const { return hold_ != nullptr; }
    link::Link* link() const { return hold_ ? hold_->session->link.get() : nullptr; }
    const std::string& config_path() const;

private:
    friend class Library;
    struct Hold {
        std::shared_ptr<Session> session;
        std::unique_lock<TurnLock> lock;
    };
    std::shared_ptr<Hold> hold_;
};

class Library {
public:
    // The one instance behind the exported functions.
    static Library& instance();

    int open(int* handle, const char* path, const char* section);
    // Refused by throwing, like find, inside a trace callback given a line of the session.
    int close(int* handle);
    // Closes the session's link and opens it again with the settings it was opened with.
    int reconnect(int handle);
    // 1 the link is up as far as anyone knows, 0 it is known lost, -1 no such session.
    int link_state(int handle);
    // The session's reply timing: ZR_REPLY_TIMING_FIXED or _WHOLE, or -1 no such session.
    int reply_timing(int handle);
    int set_reply_timing(int handle, int mode);
    // The open session named by `handle`, locked for the caller (waiting for a call that
    // runs on it); empty for -1, for handles that name none and for a session closed meanwhile.
    // Inside a trace callback given a line of this session it throws, the cause set, and the
    // exported wrapper gives -16: the call would run inside the one that holds the session.
    SessionGuard find(int handle);

    // The settings of the last open that succeeded, as one snapshot: a call takes it once,
    // and an open meanwhile cannot change it under the call.
    std::shared_ptr<const Settings> settings() const;
    std::uint8_t device_class() const { return device_class_.load(std::memory_order_relaxed); }
    void set_device_class(std::uint8_t c) { device_class_.store(c, std::memory_order_relaxed); }
    platform::Platform& os() { return platform::current(); }

    // Back to the state at load: no sessions, empty settings, device class 3. For tests.
    void reset();

private:
    int add(std::unique_ptr<link::Link> link, const std::string& config_path, const Settings& settings);
    // Opens the link `s` describes into `out`: ZR_OK, or ZROpen's result with the cause set.
    int connect(const Settings& s, std::unique_ptr<link::Link>& out);

    mutable std::mutex settings_mutex_;  // only to swap or copy the pointer
    std::shared_ptr<const Settings> settings_ = std::make_shared<const Settings>();
    std::atomic<std::uint8_t> device_class_{3};
    std::mutex table_mutex_;  // sessions_ and next_handle_; taken after a session's lock, never before
    std::map<int, std::shared_ptr<Session>> sessions_;
    int next_handle_ = 1;
};

}  // namespace zr::core
