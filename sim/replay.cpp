#include "replay.h"

namespace zr::sim {
namespace {

Bytes without_crc(const Bytes& frame) { return frame.size() >= 2 ? Bytes(frame.begin(), frame.end() - 2) : frame; }

}  // namespace

void Replay::install(ReaderModel& m) {
    for (int code = 0; code < 256; ++code)
        m.on(static_cast<std::uint8_t>(code), [this](const Request& r) {
            Bytes payload{static_cast<std::uint8_t>((r.params.size() + 1) >> 8),
                          static_cast<std::uint8_t>((r.params.size() + 1) & 0xFF), r.code};
            payload.insert(payload.end(), r.params.begin(), r.params.end());
            return answer(payload);
        });
}

Replies Replay::answer(const Bytes& request) {
    std::lock_guard lock(mutex_);
    // Frames the reader sent before this request (unasked ones at the start) are skipped.
    while (cursor_ < frames_.size() && frames_[cursor_].direction != Direction::to_reader) ++cursor_;
    ++served_;
    std::string difference;
    if (cursor_ == frames_.size()) {
        difference = "request " + std::to_string(served_) + " comes after the transcript's last: " +
                     hex(with_crc(request)) + " (" + command_name(request[2]) + "), not answered";
    } else if (without_crc(frames_[cursor_].frame) != request) {
        difference = "request " + std::to_string(served_) + " (transcript line " + std::to_string(frames_[cursor_].line) +
                     ") differs: recorded " + hex(frames_[cursor_].frame) + ", received " + hex(with_crc(request)) +
                     " (" + command_name(request[2]) + ")";
    }
    if (!difference.empty()) {
        differences_.push_back(difference);
        if (notify_) notify_(difference);
    }
    Replies replies;
    if (cursor_ == frames_.size()) return replies;
    for (++cursor_; cursor_ < frames_.size() && frames_[cursor_].direction == Direction::to_host; ++cursor_)
        replies.push_back(without_crc(frames_[cursor_].frame));
    return replies;
}

std::vector<std::string> Replay::differences() const {
    std::lock_guard lock(mutex_);
    return differences_;
}

int Replay::requests_left() const {
    std::lock_guard lock(mutex_);
    int left = 0;
    for (std::size_t i = cursor_; i < frames_.size(); ++i) left += frames_[i].direction == Direction::to_reader;
    return left;
}

}  // namespace zr::sim
