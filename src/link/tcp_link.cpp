#include "link/tcp_link.h"

#include <algorithm>
#include <vector>

namespace zr::link {
namespace {

constexpr int kReadySelectMs = 50;   // writability check before every send and receive
constexpr int kSendSelectMs = 1000;
constexpr int kReceiveSelectMs = 2;
constexpr int kReceiveSteps = 30;
constexpr int kDrainFrames = 20;
constexpr int kSendCalls = 51;       // then one last call
constexpr int kDiscardStepsMax = 4096;  // a flooding peer cannot keep a send waiting forever

}  // namespace

TcpLink::TcpLink(std::unique_ptr<platform::Socket> socket) : socket_(std::move(socket)) {}

int TcpLink::send_bytes(std::span<const std::uint8_t> bytes) {
    switch (socket_->wait_writable(kSendSelectMs)) {
        case platform::Ready::yes: return socket_->send(bytes);
        case platform::Ready::timeout: return 0;
        case platform::Ready::error: break;
    }
    return -1;
}

int TcpLink::receive_bytes(std::span<std::uint8_t> bytes) {
    switch (socket_->wait_readable(kReceiveSelectMs)) {
        case platform::Ready::yes: {
            int r = socket_->recv(bytes);
            return r == 0 ? -1 : r;  // readable but empty: the peer has gone
        }
        case platform::Ready::timeout: return 0;
        case platform::Ready::error: break;
    }
    return -1;
}

TcpLink::StepResult TcpLink::receive_step(std::span<std::uint8_t> dest) {
    auto fail = [](int r) { return StepResult{r < 0 ? Step::error : Step::idle, 0}; };
    if (rx_state_ == RxState::length || rx_state_ == RxState::one_length_byte) {
        int r = receive_bytes(std::span(frame_).subspan(rx_count_, 2 - rx_count_));
        if (r <= 0) return fail(r);
        rx_count_ += static_cast<std::size_t>(r);
        if (rx_count_ < 2) {
            rx_state_ = RxState::one_length_byte;
            return {Step::partial, 0};
        }
        rx_total_ = static_cast<std::size_t>(frame_[0]) * 256 + frame_[1] + 4;
        // A frame bigger than the buffer is read through and dropped, never stored.
        rx_state_ = rx_total_ > frame_.size() ? RxState::skipping : RxState::body;
    }
    if (rx_state_ == RxState::skipping) {
        std::array<std::uint8_t, 256> sink;
        std::size_t want = std::min(sink.size(), rx_total_ - rx_count_);
        int r = receive_bytes(std::span(sink).first(want));
        if (r <= 0) return fail(r);
        rx_count_ += static_cast<std::size_t>(r);
        if (rx_count_ < rx_total_) return {Step::partial, 0};
        rx_state_ = RxState::length;
        rx_count_ = 0;
        return {Step::dropped, 0};
    }
    int r = receive_bytes(std::span(frame_).subspan(rx_count_, rx_total_ - rx_count_));
    if (r <= 0) return fail(r);
    rx_count_ += static_cast<std::size_t>(r);
    if (rx_count_ < rx_total_) return {Step::partial, 0};
    rx_state_ = RxState::length;
    rx_count_ = 0;
    if (rx_total_ > dest.size()) return {Step::dropped, 0};  // read whole, but it does not fit
    std::copy_n(frame_.begin(), rx_total_, dest.begin());
    return {Step::frame, static_cast<int>(rx_total_)};
}

int TcpLink::framed_receive(std::span<std::uint8_t> dest) {
    // Up to 30 reads of up to 2 ms each. Once a read has found nothing, the silence is waited
    // out in one wait up to the same overall limit: bytes are taken the moment they come and
    // the limit is the same, but a quiet line costs one wake-up instead of thirty.
    auto& os = platform::current();
    const auto deadline = os.now() + std::chrono::milliseconds(kReceiveSteps * kReceiveSelectMs);
    for (int i = 0; i < kReceiveSteps; ++i) {
        auto r = receive_step(dest);
        if (r.step == Step::frame) return r.length;
        if (r.step == Step::dropped) return 0;
        if (r.step == Step::idle) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - os.now()).count();
            if (left <= 0 || socket_->wait_readable(static_cast<int>(left)) != platform::Ready::yes) return 0;
        }
    }
    return 0;
}

void TcpLink::drain() {
    std::array<std::uint8_t, kTcpFrameBuffer> scratch;
    // Frames that are already here go without waiting ...
    for (int i = 0; i < kDiscardStepsMax && socket_->wait_readable(0) == platform::Ready::yes; ++i) {
        auto r = receive_step(scratch);
        if (r.step == Step::frame && outstanding_ > 0) --outstanding_;
        if (r.step == Step::error) break;
    }
    // ... and only a reply still owed is waited for.
    for (int i = 0; i < kDrainFrames && outstanding_ > 0; ++i) {
        if (framed_receive(scratch) <= 0) break;
        --outstanding_;
    }
    outstanding_ = 0;
}

void TcpLink::count_sent(std::span<const std::uint8_t> bytes) {
    for (auto b : bytes) {
        switch (tx_state_) {
            case TxState::length_high:
                tx_remaining_ = static_cast<std::size_t>(b) * 256;
                tx_state_ = TxState::length_low;
                break;
            case TxState::length_low:
                tx_remaining_ += b + 2u;  // body and CRC
                tx_state_ = TxState::body;
                break;
            case TxState::body:
                if (--tx_remaining_ == 0) {
                    tx_state_ = TxState::length_high;
                    ++outstanding_;
                }
                break;
        }
    }
}

int TcpLink::send_with_drain(std::span<const std::uint8_t> bytes) {
    drain();
    int n = send_bytes(bytes);
    if (n > 0) count_sent(bytes.first(static_cast<std::size_t>(n)));
    return n;
}

int TcpLink::send_frame(std::span<const std::uint8_t> payload) {
    if (!connected_ || socket_->wait_writable(kReadySelectMs) != platform::Ready::yes) return 0;
    std::vector<std::uint8_t> frame(payload.begin(), payload.end());
    auto crc = crc16(payload);
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    std::size_t sent = 0;
    for (int call = 0; call <= kSendCalls; ++call) {
        int n = send_with_drain(std::span(frame).subspan(sent));
        if (n > 0) sent += static_cast<std::size_t>(n);
        if (sent == frame.size()) return static_cast<int>(frame.size());
    }
    return 0;
}

int TcpLink::receive_frame(ReplyBuffer& dest, int min_length, std::uint8_t /*expected: serial only*/) {
    if (!connected_ || socket_->wait_writable(kReadySelectMs) != platform::Ready::yes) return 0;
    std::array<std::uint8_t, kTcpReplyMax> buffer{};
    int got = framed_receive(buffer);
    if (got <= 0) return 0;
    if (outstanding_ > 0) --outstanding_;
    if (got < min_length + 2) return 0;
    // Whole frames only reach here, so the CRC over all of it decides.
    auto frame = std::span(buffer).first(static_cast<std::size_t>(got));
    if (crc16(frame) != 0) return 0;
    std::copy(frame.begin(), frame.end(), dest.begin());
    return got;
}

CloseResult TcpLink::close() {
    if (!connected_) return CloseResult::closed;
    if (socket_->wait_writable(500) != platform::Ready::yes) return CloseResult::not_ready;
    connected_ = false;
    rx_state_ = RxState::length;
    rx_count_ = 0;
    return socket_->close() ? CloseResult::closed : CloseResult::failed_released;
}

}  // namespace zr::link
