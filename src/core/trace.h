// The wire trace: one line per frame and per notable event on a session's link, off unless
// the environment (ZR_TRACE=path, "-" for standard error), the session's INI section
// ("ZR_TRACE_FILE") or a program's callback (ZRSetTraceCallback) asks for it.
//
//   1234.567 | h1 | tcp 192.0.2.10:7086 | -> | 00 01 67 D2 2D | 00 01 67 D2 2D | RESET/TEST_MODE | sent
//   time (ms, monotonic) | handle | link | direction | wire bytes | frame | command | verdict
//   1234.890 | h1 | tcp 192.0.2.10:7086 | -- | link lost: the reader closed the connection
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "link/trace.h"

namespace zr::core {

class SessionTracer final : public link::Tracer {
public:
    // `file`: the session's own trace file ("" for none), appended to.
    SessionTracer(int handle, std::string link_name, const std::string& file);
    ~SessionTracer() override;
    SessionTracer(const SessionTracer&) = delete;
    SessionTracer& operator=(const SessionTracer&) = delete;

    bool on() const override;
    void frame(bool outgoing, std::span<const std::uint8_t> wire, std::span<const std::uint8_t> frame,
               link::Verdict verdict) override;
    void event(std::string_view text) override;
    // Why the session's trace file could not be opened ("" when it was, or none was named).
    const std::string& problem() const { return problem_; }

private:
    void emit(const std::string& body);

    int handle_;
    std::string link_name_;
    std::FILE* file_ = nullptr;
    std::string problem_;
};

// Why the file ZR_TRACE names could not be opened ("" when it was, or none is named). Reads
// ZR_TRACE if nothing has yet.
std::string trace_env_problem();

// Whether this thread runs inside the trace callback, and given a line of session `handle`.
// A call on that session from there would run inside the call that holds it.
bool in_trace_callback() noexcept;
bool in_trace_callback_for(int handle) noexcept;

// "tcp 192.0.2.10:7086" or "serial /dev/ttyUSB0", as the trace names a link.
std::string link_name(const std::string& port_type, const std::string& com_name, const std::string& host_name,
                      std::uint16_t tcp_port = 7086);

}  // namespace zr::core
