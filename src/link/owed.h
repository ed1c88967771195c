// Replies a reader still owes. A request whose command gave up before any frame of its code
// came back may still be answered, late: such a frame must never pass for the answer to a
// later request. Each unanswered request is counted under its code for kLateReplyWindow; a
// frame of a counted code is one of those late replies, unless nothing more of its code
// follows (the reader never sent the reply counted, so the frame is the answer after all).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

namespace zr::link {

// How late a reply may come and still be recognised as late.
inline constexpr std::chrono::milliseconds kLateReplyWindow{2500};

class OwedReplies {
public:
    using Clock = std::chrono::microseconds;

    // The request before the next one is done with: unanswered, it is owed from `now` on.
    // Returns the code it is owed under, if it is.
    std::optional<std::uint8_t> settle(Clock now) {
        std::optional<std::uint8_t> made;
        if (in_flight_ && !answered_) {
            if (entries_.size() == kMax) entries_.pop_front();
            entries_.push_back({*in_flight_, now});
            made = in_flight_;
        }
        in_flight_.reset();
        return made;
    }
    // A request that the reader answers under `code` went out.
    void sent(std::uint8_t code) {
        in_flight_ = code;
        answered_ = false;
    }
    // The request in flight belongs to the same call as the next (another byte, another
    // pass): unanswered, it is forgotten rather than owed.
    void forget_in_flight() { in_flight_.reset(); }
    // A whole frame of `code` came in.
    void arrived(std::uint8_t code) {
        if (in_flight_ == code) answered_ = true;
    }
    // A late reply of `code` may still come.
    bool owes(std::uint8_t code, Clock now) {
        expire(now);
        return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.code == code; });
    }
    bool any(Clock now) {
        expire(now);
        return !entries_.empty();
    }
    // One late reply of `code` came.
    void paid(std::uint8_t code) {
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.code == code; });
        if (it != entries_.end()) entries_.erase(it);
    }
    // The reader answered a later request of `code` with no late reply before it: it never
    // sent those it owed.
    void written_off(std::uint8_t code) {
        std::erase_if(entries_, [&](const Entry& e) { return e.code == code; });
    }
    // The code of the request in flight, while no frame of it came back.
    std::optional<std::uint8_t> unanswered() const {
        return in_flight_ && !answered_ ? in_flight_ : std::nullopt;
    }
    std::optional<std::uint8_t> oldest(Clock now) {
        expire(now);
        return entries_.empty() ? std::nullopt : std::optional<std::uint8_t>(entries_.front().code);
    }

private:
    static constexpr std::size_t kMax = 32;
    struct Entry {
        std::uint8_t code;
        Clock since;
    };
    void expire(Clock now) {
        while (!entries_.empty() && now - entries_.front().since > kLateReplyWindow) entries_.pop_front();
    }
    std::deque<Entry> entries_;
    std::optional<std::uint8_t> in_flight_;
    bool answered_ = false;
};

}  // namespace zr::link
