// TCP transport: frames as they are (no start byte, no stuffing) on one connection to the
// reader's port 7086, found in the byte stream by a framer that survives between calls.
#pragma once

#include <memory>
#include <optional>

#include "link/link.h"
#include "platform/platform.h"
#include "protocol/tcp_framer.h"

namespace zr::link {

inline constexpr std::uint16_t kTcpPort = 7086;  // unless the section's ZR_TCP_PORT names another

class TcpLink final : public Link {
public:
    explicit TcpLink(std::unique_ptr<platform::Socket> socket);
    const Profile& profile() const override { return kTcpProfile; }
    int send_frame(std::span<const std::uint8_t> payload, bool reply_expected) override;
    std::chrono::milliseconds receive_window() const override;
    bool lost() const override { return lost_; }
    void flush() override {}
    CloseResult close() override;

    // Has the non-blocking connect finished within `ms`?
    platform::Ready wait_connected(int ms) { return socket_->wait_connected(ms); }
protected:
    std::optional<std::span<const std::uint8_t>> pull(Clock deadline) override;
    Verdict screen(std::span<const std::uint8_t> frame, const Expect& expect) const override;
    void trace_in(std::span<const std::uint8_t> frame, Verdict v) override;
    bool ready_to_receive() override;
    void drain_arrived() override;

private:
    enum class Fill { bytes, nothing, lost };
    // One read into the framer, waiting up to `ms` for bytes.
    Fill fill(int ms);
    void lose(std::string_view what);
    void trace_skipped();
    void trace_unsent(std::span<const std::uint8_t> payload);
    bool ready_to_write(int ms);

    std::unique_ptr<platform::Socket> socket_;
    bool connected_ = true;
    bool lost_ = false;
    protocol::TcpFramer framer_;
    std::size_t skipped_seen_ = 0;  // framer bytes skipped that the trace has told of
};

}  // namespace zr::link
