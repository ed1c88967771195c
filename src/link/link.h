// What a session talks through. Commands never ask which transport they have.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "protocol/codes.h"
#include "protocol/frame.h"
#include "link/owed.h"
#include "link/trace.h"

namespace zr::link {

using protocol::ReplyBuffer;

enum class CloseResult {
    closed,           // released
    not_ready,        // TCP socket not writable: the session stays open
    failed_released,  // the OS refused, but the link is gone
    failed_kept,      // the OS refused and still holds the port
};

// Which frames a receive takes; the others are dropped and the receive goes on within its
// time. The serial link takes frames of `code` only. Over TCP, a command that does not
// examine the echo also takes frames of other codes except reports, and a few reports take
// a frame of any code; and no frame shorter than `min_length` + 2 bytes is taken.
struct Expect {
    enum class Tcp { same_code, not_reports, any_code };
    std::uint8_t code;
    Tcp tcp = Tcp::same_code;
    int min_length = 4;

    bool takes_over_tcp(std::uint8_t got) const {
        switch (tcp) {
            case Tcp::same_code: return got == code;
            case Tcp::not_reports: return got == code || !protocol::is_report_code(got);
            case Tcp::any_code: return true;
        }
        return false;
    }
};

// In fixed timing, before a request goes out, a reply still owed for the one before (its
// command gave up on it) gets this long to arrive. Only a command whose predecessor failed
// ever waits for it.
inline constexpr std::chrono::milliseconds kOwedReplyWait{250};

// How a session waits for replies. Fixed: each documented wait is slept, then the reply is
// read. Whole: the same wait plus kWholeMargin is a deadline, and a reply is taken the
// moment it is whole; requests go out in one write.
struct Timing {
    bool whole = false;
    int min_gap_ms = 0;  // whole timing: the least time from a reply to the next request
};
inline constexpr std::chrono::milliseconds kWholeMargin{60};

// What differs between the transports, as a command sees it. The engine reads this instead
// of asking which link it has.
struct Waits {
    int serial_ms;
    int tcp_ms;
};
struct Profile {
    // Which of a command's two waits applies on this link.
    int Waits::*wait;
    // A failed send is told apart from a reader that did not answer, so a command can give
    // its own result for it (a serial line takes bytes whether or not anyone listens).
    bool send_failure_known;
    // The reader takes a system parameter write a byte at a time on this link only.
    bool byte_writes;
};
inline constexpr Profile kSerialProfile{&Waits::serial_ms, false, true};
inline constexpr Profile kTcpProfile{&Waits::tcp_ms, true, false};

class Link {
public:
    using Clock = std::chrono::microseconds;  // the platform's monotonic clock

    virtual ~Link() = default;
    virtual const Profile& profile() const = 0;
    // Drops whatever arrived unasked, adds the CRC (and, on serial, the start byte and
    // stuffing) and sends. `reply_expected`: the reader answers this frame under its code.
    // Serial: the payload bytes written; TCP: the frame length with CRC. 0 when the send
    // failed or the link is lost: never a count for a frame that did not go out whole.
    virtual int send_frame(std::span<const std::uint8_t> payload, bool reply_expected) = 0;
    // One frame that `expect` takes, into `dest`: its length LEN + 4, or 0. Waits for it
    // until `deadline` (a deadline that has passed: what is on the line already). A frame of
    // a code whose reply is still owed (OwedReplies) is taken only when nothing more of its
    // code follows within follow_window(), which may run past `deadline`.
    int receive_frame(ReplyBuffer& dest, Expect expect, Clock deadline);
    // The next send continues the call of the last one (another pass, the next byte): a reply
    // still owed to it does not hold that send back.
    void forget_owed() { owed_.forget_in_flight(); }
    // How long a receive waits for a frame on its own in fixed timing (0: it takes what is there).
    virtual std::chrono::milliseconds receive_window() const = 0;
    // The peer has gone (closed, reset, device removed): every send fails until the session
    // is opened again.
    virtual bool lost() const = 0;
    // The output flush a command does before it sends (nothing on TCP).
    virtual void flush() = 0;
    virtual CloseResult close() = 0;

    void set_timing(Timing t) { timing_ = t; }
    const Timing& timing() const { return timing_; }
    // How long a frame of an owed code waits for a follower: the margin plus the slowest
    // answer seen lately in whole timing.
    std::chrono::milliseconds follow_window() const;
    // The code of a reply owed: the request in flight unanswered, else the oldest counted.
    std::optional<std::uint8_t> owed();

    // Where the link tells what it moves; nothing by default.
    void set_tracer(std::shared_ptr<Tracer> tracer) { tracer_ = std::move(tracer); }
    // A notable event in the trace, from whoever drives the link.
    void trace_event(std::string_view text) {
        if (auto* t = tracing()) t->event(text);
    }
    // The last thing that went wrong on the link since the last send (a frame discarded, the
    // link lost), in words; empty when nothing did. For the cause of a failed call.
    const std::string& last_note() const { return note_; }
    // Why the link was lost ("link lost: ..."), kept past the sends that clear last_note(), so
    // that every later call on the lost link can say why; empty while it is not lost.
    const std::string& loss_note() const { return loss_note_; }

protected:
    // The next whole frame with a good CRC by `deadline` (past it: one look at what is
    // there), valid until the next call; the link traces what it drops itself (bad CRC,
    // bytes of no frame). nullopt: none came, or the link is lost.
    virtual std::optional<std::span<const std::uint8_t>> pull(Clock deadline) = 0;
    // Whether this link hands `frame` to a receive that expects `expect`, or why not.
    virtual Verdict screen(std::span<const std::uint8_t> frame, const Expect& expect) const = 0;
    // A received frame in the trace, as it stood on the line.
    virtual void trace_in(std::span<const std::uint8_t> frame, Verdict v) = 0;
    // Can a receive begin (TCP: the socket is still writable)?
    virtual bool ready_to_receive() { return true; }
    // Every frame already here, without waiting, each to unasked().
    virtual void drain_arrived() = 0;

    // The shared steps before a request goes out: the request before it is settled (owed
    // when unanswered), in fixed timing a reply just owed gets kOwedReplyWait to arrive, what
    // has arrived is drained, and in whole timing the reader gets its least gap.
    void prepare_send();
    // A request went out whole.
    void sent(std::span<const std::uint8_t> payload, bool reply_expected);
    // A frame that arrived without being asked for: a late reply, or drained.
    void unasked(std::span<const std::uint8_t> frame);

    Tracer* tracing() const { return tracer_ && tracer_->on() ? tracer_.get() : nullptr; }
    void trace_frame(bool outgoing, std::span<const std::uint8_t> wire, std::span<const std::uint8_t> frame,
                     Verdict verdict) {
        if (auto* t = tracing()) t->frame(outgoing, wire, frame, verdict);
    }
    void note(std::string text) {
        if (auto* t = tracing()) t->event(text);
        if (text.rfind("link lost", 0) == 0) loss_note_ = text;
        note_ = std::move(text);
    }

    std::shared_ptr<Tracer> tracer_;
    std::string note_;
    std::string loss_note_;
    Timing timing_;

private:
    int accept(std::span<const std::uint8_t> frame);

    OwedReplies owed_;
    Clock sent_at_{0};
    std::optional<Clock> last_reply_at_;
    std::array<Clock, 8> answer_times_{};  // whole timing: request to reply, the last few
    std::size_t next_answer_ = 0;
};

}  // namespace zr::link
