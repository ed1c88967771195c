// TCP transport: frames as they are (no start byte, no stuffing) on one connection to
// the reader's port 7086, read by a resumable reader that survives between calls.
#pragma once

#include <array>
#include <memory>

#include "link/link.h"
#include "platform/platform.h"

namespace zr::link {

inline constexpr std::uint16_t kTcpPort = 7086;

class TcpLink final : public Link {
public:
    explicit TcpLink(std::unique_ptr<platform::Socket> socket);
    Kind kind() const override { return Kind::tcp; }
    int send_frame(std::span<const std::uint8_t> payload) override;
    int receive_frame(ReplyBuffer& dest, int min_length, std::uint8_t expected) override;
    void flush() override {}
    void no_reply_owed() override {
        if (outstanding_ > 0) --outstanding_;
    }
    CloseResult close() override;

    // Has the non-blocking connect finished within `ms`?
    platform::Ready wait_connected(int ms) { return socket_->wait_connected(ms); }
    // Replies the link still expects (frames sent whose replies were not read).
    int outstanding() const { return outstanding_; }

private:
    enum class Step { frame, partial, idle, dropped, error };  // idle: nothing came within the read's wait
    struct StepResult {
        Step step;
        int length;  // frame length for Step::frame
    };
    StepResult receive_step(std::span<std::uint8_t> dest);
    int framed_receive(std::span<std::uint8_t> dest);
    int send_bytes(std::span<const std::uint8_t> bytes);
    int receive_bytes(std::span<std::uint8_t> bytes);
    int send_with_drain(std::span<const std::uint8_t> bytes);
    void drain();
    void count_sent(std::span<const std::uint8_t> bytes);

    std::unique_ptr<platform::Socket> socket_;
    bool connected_ = true;

    // Resumable receive of one length-prefixed frame.
    enum class RxState { length, one_length_byte, body, skipping };
    std::array<std::uint8_t, kTcpFrameBuffer> frame_{};
    RxState rx_state_ = RxState::length;
    std::size_t rx_count_ = 0;
    std::size_t rx_total_ = 0;  // LEN + 4 of the frame being read

    // Send-side parser that counts whole frames sent.
    enum class TxState { length_high, length_low, body };
    TxState tx_state_ = TxState::length_high;
    std::size_t tx_remaining_ = 0;
    int outstanding_ = 0;
};

}  // namespace zr::link
