#include "link/link.h"

#include <algorithm>

#include "platform/platform.h"
#include "protocol/hex.h"

namespace zr::link {
namespace {

constexpr auto kSlowestCounted = std::chrono::milliseconds(1000);

Link::Clock now() { return platform::current().now(); }

}  // namespace

std::chrono::milliseconds Link::follow_window() const {
    const auto slowest = *std::max_element(answer_times_.begin(), answer_times_.end());
    return kWholeMargin + std::min(kSlowestCounted, std::chrono::ceil<std::chrono::milliseconds>(slowest));
}

std::optional<std::uint8_t> Link::owed() {
    if (auto code = owed_.unanswered()) return code;
    return owed_.oldest(now());
}

void Link::unasked(std::span<const std::uint8_t> frame) {
    const bool late = owed_.owes(frame[2], now());
    if (late) owed_.paid(frame[2]);
    trace_in(frame, late ? Verdict::late : Verdict::drained);
}

void Link::prepare_send() {
    const auto just_owed = owed_.settle(now());
    if (just_owed && !timing_.whole) {
        // The reply may be on its way: taken here, it cannot be taken for the next one's.
        const auto end = now() + kOwedReplyWait;
        while (owed_.owes(*just_owed, now()) && !lost()) {
            const auto frame = pull(end);
            if (!frame) break;
            unasked(*frame);
        }
    }
    drain_arrived();
    if (timing_.whole && timing_.min_gap_ms > 0 && last_reply_at_) {
        const auto ready = *last_reply_at_ + std::chrono::milliseconds(timing_.min_gap_ms);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(ready - now());
        if (left.count() > 0) platform::current().sleep_ms(static_cast<int>(left.count()));
    }
}

void Link::sent(std::span<const std::uint8_t> payload, bool reply_expected) {
    sent_at_ = now();
    if (reply_expected && payload.size() > 2) owed_.sent(payload[2]);
}

int Link::accept(std::span<const std::uint8_t> frame) {
    trace_in(frame, Verdict::accepted);
    const auto at = now();
    if (timing_.whole && sent_at_.count() > 0) {
        answer_times_[next_answer_] = at - sent_at_;
        next_answer_ = (next_answer_ + 1) % answer_times_.size();
    }
    last_reply_at_ = at;
    return static_cast<int>(frame.size());
}

int Link::receive_frame(ReplyBuffer& dest, Expect expect, Clock deadline) {
    if (!ready_to_receive()) return 0;
    int held = 0;  // a frame in `dest` of a code still owed: late, if another of its code follows
    Clock until = deadline;
    for (;;) {
        const auto frame = pull(until);
        if (!frame) break;
        const std::uint8_t code = (*frame)[2];
        owed_.arrived(code);
        const Verdict v = screen(*frame, expect);
        if (v != Verdict::accepted) {
            if (owed_.owes(code, now())) {
                unasked(*frame);
                continue;
            }
            trace_in(*frame, v);
            note(std::string("reply ") + verdict_text(v) + ": code 0x" + protocol::hex(&code, 1) + " " +
                 protocol::command_name(code));
            continue;
        }
        if (held > 0) {  // the one held was a late reply: this one follows it
            owed_.paid(dest[2]);
            trace_in(std::span(dest).first(static_cast<std::size_t>(held)), Verdict::late);
        }
        std::copy(frame->begin(), frame->end(), dest.begin());
        held = static_cast<int>(frame->size());
        if (!owed_.owes(code, now())) return accept(std::span(dest).first(static_cast<std::size_t>(held)));
        until = now() + follow_window();
    }
    if (held == 0) return 0;
    // Nothing of its code followed: the reader never sent the replies counted as owed.
    owed_.written_off(dest[2]);
    return accept(std::span(dest).first(static_cast<std::size_t>(held)));
}

}  // namespace zr::link
