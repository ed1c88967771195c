#include "link/tcp_link.h"

#include <algorithm>
#include <array>
#include <string>

#include "protocol/hex.h"

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

void TcpLink::lose(std::string_view what) {
    if (lost_) return;
    lost_ = true;
    const auto why = socket_->failure().reason;
    note(std::string("link lost: ").append(what).append(why.empty() ? "" : ": ").append(why));
}

bool TcpLink::ready_to_write(int ms) {
    if (!connected_ || lost_) return false;
    switch (socket_->wait_writable(ms)) {
        case platform::Ready::yes: return true;
        case platform::Ready::timeout: return false;
        case platform::Ready::error: break;
    }
    lose("the connection broke");
    return false;
}

// A request that could not go out at all, in the trace.
void TcpLink::trace_unsent(std::span<const std::uint8_t> payload) {
    if (!tracing()) return;
    const auto wire = protocol::with_crc(protocol::Bytes(payload.begin(), payload.end()));
    trace_frame(true, wire, wire, Verdict::send_failed);
}

void TcpLink::trace_skipped() {
    const auto skipped = framer_.skipped();
    if (skipped == skipped_seen_) return;
    note("skipped " + std::to_string(skipped - skipped_seen_) +
         " bytes that belong to no frame (bad CRC, cut short or garbage)");
    skipped_seen_ = skipped;
}

TcpLink::Fill TcpLink::fill(int ms) {
    switch (socket_->wait_readable(ms)) {
        case platform::Ready::yes: break;
        case platform::Ready::timeout: return Fill::nothing;
        case platform::Ready::error: lose("the connection broke"); return Fill::lost;
    }
    auto space = framer_.space();
    const int r = socket_->recv(space);
    if (r == platform::kWouldBlock) return Fill::nothing;
    if (r <= 0) {  // readable but empty: the peer has gone; or the connection broke
        lose(r == 0 ? "the reader closed the connection" : "the connection broke");
        return Fill::lost;
    }
    framer_.commit(static_cast<std::size_t>(r));
    return Fill::bytes;
}

std::optional<std::span<const std::uint8_t>> TcpLink::pull(Clock deadline) {
    auto& os = platform::current();
    bool last_look = false;
    for (;;) {
        if (auto frame = framer_.next()) {
            trace_skipped();
            return frame;
        }
        trace_skipped();
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

Verdict TcpLink::screen(std::span<const std::uint8_t> f, const Expect& expect) const {
    // Frames longer than the TCP receive takes are read whole and dropped.
    if (f.size() > protocol::kTcpReplyMax) return Verdict::too_long;
    if (static_cast<int>(f.size()) < expect.min_length + 2) return Verdict::too_short;
    if (!expect.takes_over_tcp(f[2])) return protocol::is_report_code(f[2]) ? Verdict::report : Verdict::other_code;
    return Verdict::accepted;
}

void TcpLink::trace_in(std::span<const std::uint8_t> frame, Verdict v) { trace_frame(false, frame, frame, v); }

bool TcpLink::ready_to_receive() { return ready_to_write(kReadySelectMs); }

void TcpLink::drain_arrived() {
    // Frames and fragments that are already here answer nothing this send will ask.
    auto discard = [this] {
        while (auto frame = framer_.next()) {
            trace_skipped();
            unasked(*frame);
        }
        trace_skipped();
    };
    discard();
    for (int i = 0; i < kDrainReadsMax && fill(0) == Fill::bytes; ++i) discard();
    if (!framer_.empty()) {
        if (auto* t = tracing()) t->event("drained a frame cut short");
    }
    framer_.clear();  // a half-read frame included: the next reply starts afresh
    skipped_seen_ = framer_.skipped();
}

int TcpLink::send_frame(std::span<const std::uint8_t> payload, bool reply_expected) {
    note_.clear();
    if (!ready_to_write(kReadySelectMs)) {
        trace_unsent(payload);
        return 0;
    }
    prepare_send();
    if (lost_) {
        trace_unsent(payload);
        return 0;
    }
    std::array<std::uint8_t, kRequestMax + 2> frame{};
    const std::size_t size = std::min(payload.size(), kRequestMax);
    std::copy_n(payload.begin(), size, frame.begin());
    const auto crc = protocol::crc16(payload.first(size));
    frame[size] = static_cast<std::uint8_t>(crc >> 8);
    frame[size + 1] = static_cast<std::uint8_t>(crc & 0xFF);
    const auto wire = std::span(frame).first(size + 2);

    std::size_t sent_bytes = 0;
    for (int call = 0; call < kSendCalls && sent_bytes < wire.size(); ++call) {
        if (!ready_to_write(kSendSelectMs)) {
            if (lost_) break;
            continue;
        }
        const int n = socket_->send(wire.subspan(sent_bytes));
        if (n > 0) {
            sent_bytes += static_cast<std::size_t>(n);
        } else if (n < 0 && n != platform::kWouldBlock) {
            lose("the send failed");  // reset, broken pipe: the reader is gone
            break;
        }
    }
    if (sent_bytes != wire.size()) {
        trace_frame(true, wire, wire, Verdict::send_failed);
        return 0;
    }
    trace_frame(true, wire, wire, Verdict::sent);
    sent(payload.first(size), reply_expected);
    return static_cast<int>(wire.size());
}

CloseResult TcpLink::close() {
    if (!connected_) return CloseResult::closed;
    if (!lost_ && socket_->wait_writable(500) != platform::Ready::yes) return CloseResult::not_ready;
    connected_ = false;
    framer_.clear();
    return socket_->close() ? CloseResult::closed : CloseResult::failed_released;
}

}  // namespace zr::link
