#include "core/trace.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <system_error>

#include "api/zr.h"
#include "core/cause.h"
#include "platform/platform.h"
#include "protocol/codes.h"
#include "protocol/hex.h"

namespace zr::core {
namespace {

// "cannot open trace file PATH: REASON", from errno after a failed fopen.
std::string open_problem(const std::string& path, const char* key) {
    const auto reason = std::error_code(errno, std::generic_category()).message();
    return "cannot open trace file " + path + " (" + key + "): " + reason;
}

// The sinks every session shares: the file named by ZR_TRACE and a program's callback.
class Sinks {
public:
    static Sinks& instance() {
        static Sinks s;
        return s;
    }
    bool on() const { return env_file_ != nullptr || callback_set_.load(std::memory_order_relaxed); }

    void set_callback(ZRTraceCallback callback, void* context) {
        std::unique_lock lock(callback_mutex_);
        callback_ = callback;
        context_ = context;
        callback_set_.store(callback != nullptr, std::memory_order_relaxed);
    }

    void write(int handle, const std::string& line, std::FILE* session_file) {
        {
            std::lock_guard lock(file_mutex_);
            for (std::FILE* f : {env_file_, session_file}) {
                if (!f) continue;
                std::fputs(line.c_str(), f);
                std::fputc('\n', f);
                std::fflush(f);  // a trace is read while the program runs, or after it crashed
            }
        }
        if (!callback_set_.load(std::memory_order_relaxed) || delivering_.active) return;
        std::shared_lock lock(callback_mutex_);
        if (!callback_) return;
        // A callback that calls the library traces nothing more, cannot reach the session whose
        // call runs it, and leaves that call's cause alone.
        const KeptCause kept;
        delivering_ = {handle, true};
        callback_(context_, line.c_str());
        delivering_ = {};
    }

    const std::string& env_problem() const { return env_problem_; }

    static bool delivering() noexcept { return delivering_.active; }
    static bool delivering_for(int handle) noexcept { return delivering_.active && delivering_.handle == handle; }

private:
    Sinks() {
        const char* path = std::getenv("ZR_TRACE");
        if (!path || !*path) return;
        if (std::string(path) == "-") {
            env_file_ = stderr;
        } else {
            env_file_ = std::fopen(path, "a");
            owns_env_file_ = env_file_ != nullptr;
            if (!env_file_) env_problem_ = open_problem(path, "ZR_TRACE");
        }
    }
    ~Sinks() {
        if (owns_env_file_) std::fclose(env_file_);
    }

    std::FILE* env_file_ = nullptr;
    bool owns_env_file_ = false;
    std::string env_problem_;
    std::mutex file_mutex_;
    std::shared_mutex callback_mutex_;  // held shared while the callback runs
    std::atomic<bool> callback_set_{false};
    ZRTraceCallback callback_ = nullptr;
    void* context_ = nullptr;
    struct Delivering {
        int handle = 0;  // the session whose line the callback is given
        bool active = false;
    };
    static thread_local Delivering delivering_;
};

thread_local Sinks::Delivering Sinks::delivering_;

std::string stamp() {
    const auto us = platform::current().now().count();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(us / 1000),
                  static_cast<long long>(us % 1000));
    return buf;
}

}  // namespace

std::string link_name(const std::string& port_type, const std::string& com_name, const std::string& host_name,
                      std::uint16_t tcp_port) {
    return port_type == "COM" ? "serial " + com_name : "tcp " + host_name + ":" + std::to_string(tcp_port);
}

SessionTracer::SessionTracer(int handle, std::string link_name, const std::string& file)
    : handle_(handle), link_name_(std::move(link_name)) {
    if (!file.empty()) file_ = std::fopen(file.c_str(), "a");
    if (!file.empty() && !file_) problem_ = open_problem(file, "ZR_TRACE_FILE");
}

std::string trace_env_problem() { return Sinks::instance().env_problem(); }

SessionTracer::~SessionTracer() {
    if (file_) std::fclose(file_);
}

bool SessionTracer::on() const { return file_ != nullptr || Sinks::instance().on(); }

void SessionTracer::frame(bool outgoing, std::span<const std::uint8_t> wire, std::span<const std::uint8_t> frame,
                          link::Verdict verdict) {
    if (!on()) return;
    const std::string name = frame.size() > 2 ? protocol::command_name(frame[2]) : "-";
    emit(std::string(outgoing ? "-> | " : "<- | ") + protocol::hex(wire) + " | " + protocol::hex(frame) + " | " +
         name + " | " + link::verdict_text(verdict));
}

void SessionTracer::event(std::string_view text) {
    if (on()) emit("-- | " + std::string(text));
}

void SessionTracer::emit(const std::string& body) {
    Sinks::instance().write(handle_, stamp() + " | h" + std::to_string(handle_) + " | " + link_name_ + " | " + body,
                            file_);
}

bool in_trace_callback() noexcept { return Sinks::delivering(); }

bool in_trace_callback_for(int handle) noexcept { return Sinks::delivering_for(handle); }

}  // namespace zr::core

extern "C" ZR_API int ZR_CALL ZRSetTraceCallback(ZRTraceCallback callback, void* context) {
    try {
        // It would wait for the callback it runs in to return, for ever.
        if (zr::core::in_trace_callback()) {
            zr::core::set_cause("ZRSetTraceCallback: refused inside a trace callback");
            return ZR_ERR_INTERNAL;
        }
        zr::core::Sinks::instance().set_callback(callback, context);
        return ZR_OK;
    } catch (...) {
        return ZR_ERR_INTERNAL;
    }
}
