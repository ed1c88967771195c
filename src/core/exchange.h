// The exchange engine: every exported command is a declaration run by one of these.
//
//   return command(handle, 0x72)
//       .with(antenna, bytes(tagId, 8), address, byteCount)
//       .receives(6)
//       .on_ok([&](const Reply& r) { ... })
//       .run();
//
// Byte parameters are ints of which the low 8 bits are sent. Argument checks declared with
// check()/require()/bytes() are settled before anything is flushed or sent, in the order they
// were declared, after the handle check.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "api/zr.h"
#include "core/cause.h"
#include "core/session.h"
#include "protocol/codes.h"
#include "protocol/frame.h"
#include "protocol/status.h"

namespace zr::core {

using protocol::Reply;
namespace code = protocol::code;

// Caller bytes sent as they lie: `n` bytes at `p`. A null `p` refuses the call with -14.
struct Bytes {
    const std::uint8_t* p;
    std::size_t n;
};
inline Bytes bytes(const void* p, std::size_t n) { return {static_cast<const std::uint8_t*>(p), n}; }

// The checks a reply must pass to be accepted: at least 6 bytes, the echoed command code,
// a byte count of LEN + 4.
enum ReplyCheck : unsigned { kCountCheck = 1, kEchoCheck = 2, kLengthCheck = 4, kAllChecks = 7 };

class Command {
public:
    Command(int handle, std::uint8_t code);

    // Request parameters after the command code; LEN is counted from them.
    template <typename... Args>
    Command& with(Args... args) {
        (add(args), ...);
        return *this;
    }
    // Refuses the call with `result` unless `ok`.
    Command& check(bool ok, int result);
    // Refuses the call with -14 when `p` is null.
    Command& require(const void* p) { return check(p != nullptr, ZR_ERR_ARGUMENT); }
    // What a handle of no open session gives (-1 unless said otherwise).
    Command& on_no_session(int result);

    Command& no_flush();
    Command& flush_after();
    Command& wait(int ms) { return wait(ms, ms); }
    // The wait before each receive, as the serial and the TCP link need it.
    Command& wait(int serial_ms, int tcp_ms);
    // Receive attempts, each after the wait, until a frame of at least 6 bytes echoes the code.
    Command& receives(int attempts);
    // Over TCP no reply shorter than `m` + 2 bytes is taken.
    Command& tcp_min(int m);
    Command& checks(unsigned reply_checks);
    // The reply carries the status alone: only a frame of exactly 6 bytes is accepted.
    Command& status_only();
    // Result of a send that the link knows failed (TCP; a serial line takes bytes whether or
    // not anyone listens). Over several passes it ends the call at once.
    Command& on_known_send_failure(int result);
    // Result of a send that failed on any link (a frame cut short included).
    Command& on_any_send_failure(int result);
    // Result when no frame passed the count and echo tests (default -4).
    Command& unanswered(int result);
    // No frame echoed the code: the send result is returned ("sent, not confirmed").
    Command& unanswered_gives_send_result();
    // Result for any reply not accepted, missing or malformed alike (default -4).
    Command& fails_with(int result);
    // A further 50 ms after a non-zero status.
    Command& pause_after_error();
    // Runs on an accepted reply with status 0; returns the result (default: 1).
    Command& on_ok(std::function<int(const Reply&)> handler);
    // This exchange continues the call of the one before it on the handle (the next byte of
    // a byte-wise write, another pass): a reply still owed to that one does not delay it.
    Command& continues_call();

    // Request, wait, receive, accept, map.
    int run();
    // After run(): the send failed and the link knows it (TCP), so a call made of several
    // exchanges ends there.
    bool send_failed() const { return send_failed_; }
    // Request only: the transport's send result.
    int send_only();
    // Settles the handle and the argument checks without any I/O: nullopt when the call may
    // go on (for commands made of several exchanges). From here on the command holds its
    // session's lock, and so do its copies, until the last of them is gone.
    std::optional<int> refused();
    // What differs on the session's link; only after refused() let the call go on.
    const link::Profile& profile() const { return link_->profile(); }

private:
    void add(int byte);
    void add(unsigned byte) { add(static_cast<int>(byte)); }
    void add(Bytes b);
    void add_raw(std::uint8_t b);

    int handle_;
    std::uint8_t code_;
    std::uint8_t device_class_;  // as the call started
    SessionGuard session_;
    link::Link* link_ = nullptr;
    protocol::Payload payload_;
    std::optional<int> refusal_;
    int no_session_result_ = ZR_ERR_NO_SESSION;
    bool flush_ = true;
    bool flush_after_ = false;
    link::Waits waits_{50, 50};
    int receives_ = 1;
    int tcp_min_ = 4;
    unsigned checks_ = kAllChecks;
    bool status_only_ = false;
    std::optional<int> known_send_failure_;
    std::optional<int> any_send_failure_;
    int unanswered_ = ZR_ERR_NO_REPLY;
    bool unanswered_send_result_ = false;
    int malformed_ = ZR_ERR_NO_REPLY;
    bool pause_after_error_ = false;
    bool continues_call_ = false;
    bool send_failed_ = false;
    std::function<int(const Reply&)> on_ok_;

    struct Outcome {
        int result;
        bool send_failed;  // and the link knows it
    };
    Outcome one_pass();
    Outcome judge(const Reply& reply, int count, bool echoed, int sent);
    int send(bool reply_expected);
    void sleep(int ms);
};

inline Command command(int handle, std::uint8_t code) { return Command(handle, code); }

// A query of the reader's settings: no flush, 500 ms for the answer, which must echo the
// code; a TCP send that failed gives -6.
inline Command query(int handle, std::uint8_t code) {
    return std::move(command(handle, code)
                         .no_flush()
                         .on_known_send_failure(ZR_ERR_SEND)
                         .wait(500)
                         .checks(kCountCheck | kEchoCheck));
}

// A command that addresses the reader itself (its power print-out, state, clock, fixed
// number): over TCP its reply runs to 11 bytes at least; the echo is not examined.
inline Command reader_command(int handle, std::uint8_t code) {
    return std::move(command(handle, code).tcp_min(9).checks(kCountCheck | kLengthCheck));
}

// Receive-only shape: collects one frame the reader sent after a send-only command.
class Report {
public:
    Report(int handle, std::uint8_t code);
    Report& tcp_min(int m);
    Report& receives(int attempts);
    Report& wait(int ms);
    // Frames of any command are taken (the code at index 2 is not examined).
    Report& any_code();
    // Result for a frame whose count is not LEN + 4 (default -4).
    Report& length_mismatch(int result);
    // Result for a non-zero status instead of the status mapping.
    Report& status_error(int result);
    // Copy the frame from its first byte up to the last data byte, instead of status and data.
    Report& whole_frame();

    int into(std::uint8_t* buffer);

private:
    int handle_;
    std::uint8_t code_;
    std::uint8_t device_class_;  // as the call started
    int tcp_min_ = 4;
    int receives_ = 1;
    int wait_ms_ = 0;
    bool any_code_ = false;
    int length_mismatch_ = ZR_ERR_NO_REPLY;
    std::optional<int> status_error_;
    bool whole_frame_ = false;
};

inline Report report(int handle, std::uint8_t code) { return Report(handle, code); }

// Reader-first shape: the reader sends a frame on its own; the library reads it and answers
// with a request of the same code whose parameters depend on what came.
//
//   flush, clear the outputs, wait, receive once;
//   a frame whose LEN is not below its count: -4, no answer;
//   otherwise accepted when it echoes the code, has at least min_count bytes and its count is
//   LEN + 4 (on_accept copies it out); wait, send the answer; 1 when accepted, else 0.
class Listen {
public:
    Listen(int handle, std::uint8_t code);
    // Refuses the call with -14 when `p` is null, before anything is flushed or received.
    Listen& require(const void* p);
    // `n` bytes at `p` are zeroed before the receive, whatever comes.
    Listen& clears(void* p, std::size_t n);
    // Before the receive and again before the answer (default 50 ms).
    Listen& wait(int ms);
    Listen& tcp_min(int m);
    // Frames shorter than this are not accepted (default 6).
    Listen& min_count(int count);
    Listen& on_accept(std::function<void(const Reply&)> take);
    // Parameters of the answer after the code; `frame` is null when nothing was accepted.
    Listen& answer(std::function<std::vector<std::uint8_t>(const Reply* frame)> params);

    int run();

private:
    struct Clear {
        void* p;
        std::size_t n;
    };
    int handle_;
    std::uint8_t code_;
    bool refused_ = false;
    std::vector<Clear> clears_;
    int wait_ms_ = 50;
    int tcp_min_ = 4;
    int min_count_ = 6;
    std::function<void(const Reply&)> on_accept_;
    std::function<std::vector<std::uint8_t>(const Reply*)> answer_;
};

inline Listen listen_for(int handle, std::uint8_t code) { return Listen(handle, code); }

// Runs an exported function's body: nothing thrown crosses the C boundary.
// A failure that nobody explained gets its result's text as its cause.
template <typename F>
int guarded(F&& body) noexcept {
    const unsigned mark = cause_mark();
    int result;
    try {
        result = body();
    } catch (...) {
        result = ZR_ERR_INTERNAL;
    }
    finish_cause(mark, result);
    return result;
}

}  // namespace zr::core
