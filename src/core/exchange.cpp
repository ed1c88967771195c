#include "core/exchange.h"

#include <algorithm>

namespace zr::core {
namespace {

constexpr int kErrorPauseMs = 50;
constexpr int kStatusReplySize = 6;  // LEN, code, status, CRC

Library& lib() { return Library::instance(); }

// The cause of a call on a lost link: the loss as the link told it, on every call after it too
// (each send clears the link's last note).
std::string loss_cause(const link::Link& link) {
    const auto& note = link.last_note();
    if (note.rfind("link lost", 0) == 0) return note;
    if (!link.loss_note().empty()) return link.loss_note();
    return note.empty() ? std::string("link lost") : note;
}

// One receive into a zeroed buffer. A frame the link dropped (bad CRC, cut off) may have left
// its bytes behind: they are no reply and must never pass for an echo of the code.
int receive_once(link::Link& link, link::ReplyBuffer& buffer, link::Expect expect, link::Link::Clock deadline) {
    buffer.fill(0);
    const int count = link.receive_frame(buffer, expect, deadline);
    if (count <= 0) buffer.fill(0);
    return count;
}

bool wanted(const link::ReplyBuffer& buffer, int count, const link::Expect& expect) {
    return count >= 6 && (expect.tcp == link::Expect::Tcp::any_code || buffer[2] == expect.code);
}

// Whole timing: the attempts' waits add up to one deadline, with the margin once, and the
// first wanted frame ends the receive the moment it is whole.
int receive_by_deadline(link::Link& link, link::ReplyBuffer& buffer, int attempts, int wait_ms,
                        const link::Expect& expect) {
    auto& os = lib().os();
    const auto deadline = os.now() + std::chrono::milliseconds(attempts * std::max(0, wait_ms)) + link::kWholeMargin;
    int count = 0;
    do {
        count = receive_once(link, buffer, expect, deadline);
        if (wanted(buffer, count, expect) || link.lost()) break;
    } while (os.now() < deadline);
    return count;
}

// Up to `attempts` receives, each after `wait_ms`, until a frame of 6 bytes or more echoes the
// code (or any frame, where any code is taken). With `polls_only`, the attempts end once
// their waits add up (a receive that waits by itself, as TCP's, counts): a report poll over
// TCP then costs one wait and one receive, not six. The last frame received stays in `buffer`.
int receive_attempts(link::Link& link, link::ReplyBuffer& buffer, int attempts, int wait_ms, link::Expect expect,
                     bool polls_only = false) {
    if (link.timing().whole) return receive_by_deadline(link, buffer, attempts, wait_ms, expect);
    auto& os = lib().os();
    const auto start = os.now();
    const auto budget = std::chrono::milliseconds(attempts * wait_ms);
    int count = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0 && polls_only && os.now() - start >= budget) break;
        if (wait_ms > 0) os.sleep_ms(wait_ms);
        count = receive_once(link, buffer, expect, os.now() + link.receive_window());
        if (wanted(buffer, count, expect)) break;
    }
    return count;
}

}  // namespace

// ---- Command ---------------------------------------------------------------------------

Command::Command(int handle, std::uint8_t code)
    : handle_(handle), code_(code), device_class_(lib().device_class()), payload_(code) {}

void Command::add_raw(std::uint8_t b) {
    if (!payload_.add(b)) check(false, ZR_ERR_ARGUMENT);  // the request would not fit its buffer
}

void Command::add(int byte) {
    if (!refusal_) add_raw(static_cast<std::uint8_t>(byte & 0xFF));
}

void Command::add(Bytes b) {
    if (refusal_) return;
    if (!b.p) {
        check(false, ZR_ERR_ARGUMENT);
        return;
    }
    if (b.n > payload_.room()) {
        check(false, ZR_ERR_ARGUMENT);
        return;
    }
    for (std::size_t i = 0; i < b.n; ++i) add_raw(b.p[i]);
}

Command& Command::check(bool ok, int result) {
    if (!ok && !refusal_) refusal_ = result;
    return *this;
}
Command& Command::on_no_session(int result) { no_session_result_ = result; return *this; }
Command& Command::no_flush() { flush_ = false; return *this; }
Command& Command::flush_after() { flush_after_ = true; return *this; }
Command& Command::wait(int serial_ms, int tcp_ms) { waits_ = {serial_ms, tcp_ms}; return *this; }
Command& Command::receives(int attempts) { receives_ = std::max(1, attempts); return *this; }
Command& Command::tcp_min(int m) { tcp_min_ = m; return *this; }
Command& Command::checks(unsigned reply_checks) { checks_ = reply_checks; return *this; }
Command& Command::status_only() { status_only_ = true; return *this; }
Command& Command::on_known_send_failure(int result) { known_send_failure_ = result; return *this; }
Command& Command::on_any_send_failure(int result) { any_send_failure_ = result; return *this; }
Command& Command::unanswered(int result) { unanswered_ = result; return *this; }
Command& Command::unanswered_gives_send_result() { unanswered_send_result_ = true; return *this; }
Command& Command::fails_with(int result) { unanswered_ = malformed_ = result; return *this; }
Command& Command::pause_after_error() { pause_after_error_ = true; return *this; }
Command& Command::on_ok(std::function<int(const Reply&)> handler) { on_ok_ = std::move(handler); return *this; }
Command& Command::continues_call() { continues_call_ = true; return *this; }

std::optional<int> Command::refused() {
    // Once only: a command made of several exchanges keeps its session for all of them.
    if (!session_) session_ = lib().find(handle_);
    link_ = session_.link();
    if (!link_) return no_session_result_;
    if (refusal_) return refusal_;
    return std::nullopt;
}

int Command::send(bool reply_expected) { return link_->send_frame(payload_.bytes(), reply_expected); }

void Command::sleep(int ms) {
    if (ms > 0) lib().os().sleep_ms(ms);
}

int Command::send_only() {
    if (auto r = refused()) return *r;
    if (flush_) link_->flush();
    const int sent = send(false);  // its answers are reports, collected by their own calls
    if (sent <= 0 && link_->lost()) set_cause(loss_cause(*link_));
    else if (sent <= 0 && !link_->last_note().empty()) set_cause(link_->last_note());
    return sent;
}

int Command::run() {
    if (auto r = refused()) return *r;
    if (flush_) link_->flush();
    if (continues_call_) link_->forget_owed();
    const auto outcome = one_pass();
    send_failed_ = outcome.send_failed;
    return outcome.result;
}

namespace {

// Why a reply was not accepted, from what the link saw, and why a status was not mapped.
void explain_failure(link::Link& link, std::uint8_t code, int result, const Reply& reply, int device_class) {
    if (result == ZR_ERR_UNKNOWN_STATUS) {
        set_cause_of("reader status ", hex(reply.status()), " to ", protocol::command_name(code), " (", hex(code),
                     ") is not listed for device class ", device_class);
        return;
    }
    const auto& note = link.last_note();
    if (link.lost()) {
        set_cause(loss_cause(link));
    } else if (reply.count() == 0) {
        set_cause_of("no reply to ", protocol::command_name(code), " (", hex(code), ")",
                     note.empty() ? "" : "; ", note);
    } else if (result == ZR_ERR_NO_REPLY || result == 0) {
        set_cause_of("no valid reply to ", protocol::command_name(code), " (", hex(code), "): got ", reply.count(),
                     " bytes, code ", hex(reply.code()), ", LEN ", reply.len(), note.empty() ? "" : "; ", note);
    }
}

}  // namespace

Command::Outcome Command::one_pass() {
    const int sent = send(true);
    if (sent <= 0 && link_->lost()) set_cause(loss_cause(*link_));
    if (sent <= 0 && any_send_failure_) return {*any_send_failure_, false};
    const auto& profile = link_->profile();
    if (sent == 0 && known_send_failure_ && profile.send_failure_known) return {*known_send_failure_, true};

    // A command that examines the echo waits for its own code; one that does not still never
    // takes a report for its answer.
    const link::Expect expect{code_,
                              (checks_ & kEchoCheck) ? link::Expect::Tcp::same_code : link::Expect::Tcp::not_reports,
                              tcp_min_};
    link::ReplyBuffer buffer{};
    const int count = receive_attempts(*link_, buffer, receives_, waits_.*profile.wait, expect);
    if (flush_after_) link_->flush();

    const Reply reply(buffer, count);
    const bool echoed = reply.code() == code_;
    const auto judged = judge(reply, count, echoed, sent);
    // Mapped statuses speak for themselves (ZRResultText names the byte and its meaning).
    if (judged.result <= 0) explain_failure(*link_, code_, judged.result, reply, device_class_);
    return judged;
}

Command::Outcome Command::judge(const Reply& reply, int count, bool echoed, int sent) {
    if (unanswered_send_result_ && !echoed) return {sent, false};
    if ((checks_ & kEchoCheck) && !echoed) return {unanswered_, false};
    if ((checks_ & kCountCheck) && count < 6)
        return {unanswered_send_result_ ? malformed_ : unanswered_, false};
    if ((checks_ & kLengthCheck) && count != reply.len() + 4) return {malformed_, false};
    if (status_only_ && count != kStatusReplySize) return {malformed_, false};

    if (reply.status() == 0) return {on_ok_ ? on_ok_(reply) : ZR_OK, false};
    const int mapped = protocol::map_status(reply.status(), device_class_);
    // In whole timing the least gap (ZR_MIN_GAP_MS) is what lets a reader settle.
    if (pause_after_error_ && !link_->timing().whole) sleep(kErrorPauseMs);
    return {mapped, false};
}

// ---- Report ----------------------------------------------------------------------------

Report::Report(int handle, std::uint8_t code)
    : handle_(handle), code_(code), device_class_(lib().device_class()) {}
Report& Report::tcp_min(int m) { tcp_min_ = m; return *this; }
Report& Report::receives(int attempts) { receives_ = std::max(1, attempts); return *this; }
Report& Report::wait(int ms) { wait_ms_ = ms; return *this; }
Report& Report::any_code() { any_code_ = true; return *this; }
Report& Report::length_mismatch(int result) { length_mismatch_ = result; return *this; }
Report& Report::status_error(int result) { status_error_ = result; return *this; }
Report& Report::whole_frame() { whole_frame_ = true; return *this; }

int Report::into(std::uint8_t* buffer) {
    const auto session = lib().find(handle_);
    auto* link = session.link();
    if (!link) return ZR_ERR_NO_SESSION;
    if (!buffer) return ZR_ERR_ARGUMENT;
    link->flush();

    link::ReplyBuffer frame{};
    const link::Expect expect{code_, any_code_ ? link::Expect::Tcp::any_code : link::Expect::Tcp::same_code, tcp_min_};
    const int count = receive_attempts(*link, frame, receives_, wait_ms_, expect, true);
    const Reply reply(frame, count);
    if (link->lost()) set_cause(loss_cause(*link));
    if (count < 6 || (!any_code_ && reply.code() != code_)) return 0;
    if (reply.len() >= count) return ZR_ERR_NO_REPLY;
    if (count != reply.len() + 4) return length_mismatch_;
    if (reply.status() != 0)
        return status_error_ ? *status_error_ : protocol::map_status(reply.status(), device_class_);
    if (whole_frame_)
        reply.copy(0, static_cast<std::size_t>(reply.len()) + 2, buffer);
    else
        reply.copy(3, static_cast<std::size_t>(reply.len()) - 1, buffer);
    return ZR_OK;
}

// ---- Listen ----------------------------------------------------------------------------

Listen::Listen(int handle, std::uint8_t code) : handle_(handle), code_(code) {}
Listen& Listen::require(const void* p) { refused_ = refused_ || p == nullptr; return *this; }
Listen& Listen::clears(void* p, std::size_t n) { clears_.push_back({p, n}); return *this; }
Listen& Listen::wait(int ms) { wait_ms_ = ms; return *this; }
Listen& Listen::tcp_min(int m) { tcp_min_ = m; return *this; }
Listen& Listen::min_count(int count) { min_count_ = std::max(6, count); return *this; }
Listen& Listen::on_accept(std::function<void(const Reply&)> take) { on_accept_ = std::move(take); return *this; }
Listen& Listen::answer(std::function<std::vector<std::uint8_t>(const Reply*)> params) {
    answer_ = std::move(params);
    return *this;
}

int Listen::run() {
    // Held through the answer too: no other call on the session comes between.
    const auto session = lib().find(handle_);
    auto* link = session.link();
    if (!link) return ZR_ERR_NO_SESSION;
    if (refused_) return ZR_ERR_ARGUMENT;
    link->flush();
    for (const auto& c : clears_)
        if (c.p) std::fill_n(static_cast<std::uint8_t*>(c.p), c.n, std::uint8_t{0});

    link::ReplyBuffer frame{};
    const int count =
        receive_attempts(*link, frame, 1, wait_ms_, link::Expect{code_, link::Expect::Tcp::same_code, tcp_min_});
    const Reply reply(frame, count);
    if (count >= 6 && reply.len() >= count) return ZR_ERR_NO_REPLY;
    const bool accepted = count >= min_count_ && reply.code() == code_ && count == reply.len() + 4;
    if (accepted && on_accept_) on_accept_(reply);

    Command answer(handle_, code_);
    if (answer_) {
        const auto params = answer_(accepted ? &reply : nullptr);
        if (!params.empty()) answer.with(bytes(params.data(), params.size()));
    }
    if (wait_ms_ > 0 && !link->timing().whole) lib().os().sleep_ms(wait_ms_);
    // The reader does not confirm the answer: the next command must not wait for a reply to it.
    answer.no_flush().send_only();
    return accepted ? ZR_OK : 0;
}

}  // namespace zr::core
