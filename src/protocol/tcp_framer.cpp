#include "protocol/tcp_framer.h"

#include <algorithm>
#include <cstring>

namespace zr::protocol {
namespace {


std::size_t claimed(const std::uint8_t* p) { return static_cast<std::size_t>(p[0]) * 256 + p[1] + 4; }
bool plausible(std::size_t total) { return total >= kFrameMin && total <= kReplyMax; }

}  // namespace

std::span<std::uint8_t> TcpFramer::space() {
    drop(taken_);
    taken_ = 0;
    // A frame is never longer than kReplyMax, so a full buffer holds a judged head by now;
    // still, never refuse bytes: the oldest go first.
    if (size_ == buffer_.size()) drop(buffer_.size() / 2);
    return std::span(buffer_).subspan(size_);
}

void TcpFramer::commit(std::size_t n) { size_ = std::min(buffer_.size(), size_ + n); }

void TcpFramer::clear() {
    size_ = 0;
    taken_ = 0;
}

void TcpFramer::drop(std::size_t n) {
    n = std::min(n, size_);
    if (n == 0) return;
    std::memmove(buffer_.data(), buffer_.data() + n, size_ - n);
    size_ -= n;
}

std::size_t TcpFramer::frame_at(std::size_t at) const {
    if (size_ - at < 2) return 0;
    const std::size_t total = claimed(buffer_.data() + at);
    if (!plausible(total) || size_ - at < total) return 0;
    return crc16(std::span(buffer_).subspan(at, total)) == 0 ? total : 0;
}

std::optional<std::span<const std::uint8_t>> TcpFramer::next() {
    drop(taken_);
    taken_ = 0;
    while (size_ >= 2) {
        const std::size_t total = claimed(buffer_.data());
        if (plausible(total) && size_ < total) {
            // The head may be a frame still arriving, or garbage that claims a length. A
            // whole good frame further on decides for the garbage.
            for (std::size_t at = 1; at + kFrameMin <= size_; ++at) {
                if (frame_at(at) == 0) continue;
                skipped_ += at;
                drop(at);
                taken_ = frame_at(0);
                return std::span<const std::uint8_t>(buffer_.data(), taken_);
            }
            return std::nullopt;
        }
        if (const std::size_t n = frame_at(0)) {
            taken_ = n;
            return std::span<const std::uint8_t>(buffer_.data(), n);
        }
        ++skipped_;
        drop(1);
    }
    return std::nullopt;
}

}  // namespace zr::protocol
