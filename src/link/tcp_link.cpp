#include "link/tcp_link.h"

#include <algorithm>
#include <array>

namespace zr::link {
namespace {

using protocol::kRequestMax;

constexpr int kReadySelectMs = 50;  // writability check before every send and receive
constexpr int kSendSelectMs = 1000;
constexpr int kSendCalls = 52;
constexpr auto kReceiveWindow = std::chrono::milliseconds(60);
constexpr int kDrainReadsMax = 4096;  // a flooding peer cannot keep a send waiting forever

}  // namespace

TcpLink::TcpLink(std::unique_ptr<platform::Socket> socket) : socket_(std::move(socket)) {}

std::chrono::milliseconds TcpLink::receive_window() const { return kReceiveWindow; }

bool TcpLink::ready_to_write(int ms) {
    if (!connected_ || lost_) return false;
    switch (socket_->wait_writable(ms)) {
        case platform::Ready::yes: return true;
        case platform::Ready::timeout: return false;
        case platform::Ready::error: break;
    }
    lost_ = true;
    return false;
}

TcpLink::Fill TcpLink::fill(int ms) {
    switch (socket_->wait_readable(ms)) {
        case platform::Ready::yes: break;
        case platform::Ready::timeout: return Fill::nothing;
        case platform::Ready::error: lost_ = true; return Fill::lost;
    }
    auto space = framer_.space();
    const int r = socket_->recv(space);
    if (r == platform::kWouldBlock) return Fill::nothing;
    if (r <= 0) {  // readable but empty: the peer has gone; or the connection broke
        lost_ = true;
        return Fill::lost;
    }
    framer_.commit(static_cast<std::size_t>(r));
    return Fill::bytes;
}

template <typename Take>
std::optional<std::span<const std::uint8_t>> TcpLink::next_frame(Clock deadline, Take take) {
    auto& os = platform::current();
    bool last_look = false;
    for (;;) {
        while (auto frame = framer_.next()) {
            if (owed_ && (*frame)[2] == *owed_) owed_.reset();
            if (take(*frame)) return frame;
        }
        // Past the deadline one more look at what is already here, then no more.
        const auto left = deadline - os.now();
        if (left.count() <= 0) {
            if (last_look) return std::nullopt;
            last_look = true;
        }
        const int ms = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
        if (fill(ms) != Fill::bytes && ms == 0) return std::nullopt;
        if (lost_) return std::nullopt;
    }
}

void TcpLink::drain() {
    auto& os = platform::current();
    // Frames and fragments that are already here answer nothing this send will ask.
    auto discard = [this] {
        while (auto frame = framer_.next())
            if (owed_ && (*frame)[2] == *owed_) owed_.reset();
    };
    discard();
    for (int i = 0; i < kDrainReadsMax && fill(0) == Fill::bytes; ++i) discard();
    // A reply the reader still owes would be taken for the answer to this request.
    if (owed_ && !lost_) {
        const auto code = *owed_;
        next_frame(os.now() + kOwedReplyWait, [code](auto frame) { return frame[2] == code; });
    }
    owed_.reset();
    framer_.clear();  // a half-read frame included: the next reply starts afresh
}

int TcpLink::send_frame(std::span<const std::uint8_t> payload, bool reply_expected) {
    if (!ready_to_write(kReadySelectMs)) return 0;
    drain();
    if (lost_) return 0;
    std::array<std::uint8_t, kRequestMax + 2> frame{};
    const std::size_t size = std::min(payload.size(), kRequestMax);
    std::copy_n(payload.begin(), size, frame.begin());
    const auto crc = protocol::crc16(payload.first(size));
    frame[size] = static_cast<std::uint8_t>(crc >> 8);
    frame[size + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    const auto wire = std::span(frame).first(size + 2);

    std::size_t sent = 0;
    for (int call = 0; call < kSendCalls && sent < wire.size(); ++call) {
        if (!ready_to_write(kSendSelectMs)) {
            if (lost_) return 0;
            continue;
        }
        const int n = socket_->send(wire.subspan(sent));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && n != platform::kWouldBlock) {
            lost_ = true;  // reset, broken pipe: the reader is gone
            return 0;
        }
    }
    if (sent != wire.size()) return 0;
    if (reply_expected && size > 2) owed_ = payload[2];
    return static_cast<int>(wire.size());
}

int TcpLink::receive_frame(ReplyBuffer& dest, Expect expect, Clock deadline) {
    if (!ready_to_write(kReadySelectMs)) return 0;
    const auto frame = next_frame(deadline, [&](std::span<const std::uint8_t> f) {
        // Frames longer than the TCP receive takes are read whole and dropped.
        return f.size() <= protocol::kTcpReplyMax && static_cast<int>(f.size()) >= expect.min_length + 2 &&
               expect.takes_over_tcp(f[2]);
    });
    if (!frame) return 0;
    std::copy(frame->begin(), frame->end(), dest.begin());
    return static_cast<int>(frame->size());
}

CloseResult TcpLink::close() {
    if (!connected_) return CloseResult::closed;
    if (!lost_ && socket_->wait_writable(500) != platform::Ready::yes) return CloseResult::not_ready;
    connected_ = false;
    framer_.clear();
    return socket_->close() ? CloseResult::closed : CloseResult::failed_released;
}

}  // namespace zr::link
