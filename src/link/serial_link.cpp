#include "link/serial_link.h"

#include <string>

#include "protocol/hex.h"

namespace zr::link {
namespace {

using protocol::Crc16;
using protocol::kStartByte;

constexpr int kWriteTries = 3;          // one byte, after one flush
constexpr int kStuffedTries = 100;      // each wire byte of a stuffed byte
constexpr int kEmptyReadsInFrame = 300;
// A started frame is given up only after this much silence, whatever the CPU speed.
constexpr auto kFrameSilence = std::chrono::milliseconds(20);
constexpr std::size_t kDiscardMax = 65536;  // a babbling line cannot hold a send forever
constexpr auto kPatience = std::chrono::microseconds(100);

}  // namespace

SerialLink::SerialLink(std::unique_ptr<platform::SerialPort> port, platform::Platform& os)
    : port_(std::move(port)), os_(os) {}

int SerialLink::read_byte(bool patient) {
    int b = port_->read_byte();
    if (b < 0 && patient && port_->wait_readable(kPatience)) b = port_->read_byte();
    return b;
}

bool SerialLink::write_byte(std::uint8_t byte) {
    port_->flush();
    for (int i = 0; i < kWriteTries; ++i)
        if (port_->write_byte(byte)) return true;
    return false;
}

bool SerialLink::write_stuffed(std::uint8_t byte) {
    const auto stuffed = protocol::stuff(byte);
    for (auto b : stuffed.wire()) {
        bool written = false;
        for (int i = 0; i < kStuffedTries && !written && !port_->gone(); ++i) written = write_byte(b);
        if (!written) return false;
    }
    return true;
}

SerialLink::Escaped SerialLink::read_escaped(bool patient) {
    using Kind = protocol::Unstuffer::Kind;
    protocol::Unstuffer unstuffer;
    int b = read_byte(patient);
    if (b < 0) b = read_byte(patient);
    if (b < 0) return {Got::nothing, 0};
    auto unit = unstuffer.feed(static_cast<std::uint8_t>(b));
    if (unit.kind == Kind::none) {
        // After an escape the second half is always waited for briefly.
        int next = read_byte(true);
        if (next < 0) next = read_byte(true);
        unit = next < 0 ? unstuffer.finish() : unstuffer.feed(static_cast<std::uint8_t>(next));
    }
    return unit.kind == Kind::start ? Escaped{Got::start, 0} : Escaped{Got::data, unit.byte};
}

int SerialLink::send_frame(std::span<const std::uint8_t> payload, bool reply_expected) {
    note_.clear();
    int sent_count = 0;
    if (!port_->gone()) {
        prepare_send();
        sent_count = timing_.whole ? send_whole(payload) : send_stuffed(payload);
        if (sent_count > 0) sent(payload, reply_expected);
    }
    if (auto* t = tracing()) {
        const auto frame = protocol::with_crc(protocol::Bytes(payload.begin(), payload.end()));
        t->frame(true, protocol::stuff_framed(frame), frame, sent_count > 0 ? Verdict::sent : Verdict::send_failed);
    }
    if (port_->gone() && note_.empty()) note("link lost: the serial device has gone");
    return sent_count;
}

int SerialLink::send_stuffed(std::span<const std::uint8_t> payload) {
    bool started = false;
    for (int i = 0; i < kStuffedTries && !started && !port_->gone(); ++i) started = write_byte(kStartByte);
    if (!started) return 0;
    // A frame cut short is no frame: the reader drops it, so nothing counts as sent.
    Crc16 crc;
    for (auto b : payload) {
        crc.add(b);
        if (!write_stuffed(b)) return 0;
    }
    if (!write_stuffed(static_cast<std::uint8_t>(crc.value() >> 8)) ||
        !write_stuffed(static_cast<std::uint8_t>(crc.value() & 0xFF)))
        return 0;
    return static_cast<int>(payload.size());
}

int SerialLink::send_whole(std::span<const std::uint8_t> payload) {
    // The whole frame in one write and one drain: the reader hears it as fast as the line goes.
    const auto wire = protocol::stuff_framed(protocol::with_crc(protocol::Bytes(payload.begin(), payload.end())));
    const int written = port_->write(wire);
    port_->flush();
    return written == static_cast<int>(wire.size()) ? static_cast<int>(payload.size()) : 0;
}

void SerialLink::drain_arrived() {
    protocol::Bytes drained;
    for (std::size_t i = 0; i < kDiscardMax; ++i) {
        const int b = port_->read_byte();
        if (b < 0) break;
        drained.push_back(static_cast<std::uint8_t>(b));
    }
    if (drained.empty()) return;
    // Whole frames among them may be late replies, which settle what the reader owes.
    protocol::Deframer deframer(true);
    for (const auto& f : deframer.feed(drained))
        if (f.size() > 2) unasked(protocol::with_crc(f));
    if (auto* t = tracing()) t->event("drained " + std::to_string(drained.size()) + " bytes unread before the send");
}

std::optional<std::span<const std::uint8_t>> SerialLink::pull(Clock deadline) {
    for (;;) {
        // Hunt for a start byte; whatever precedes it belongs to no frame.
        Escaped e{};
        do {
            e = read_escaped(false);
            if (e.kind == Got::nothing) {
                const auto left = deadline - os_.now();
                if (left.count() <= 0 || port_->gone() || !port_->wait_readable(left)) return std::nullopt;
            }
        } while (e.kind != Got::start);

        std::size_t i = 0;
        Crc16 crc;
        if (!read_frame_body(rx_, i, crc)) return std::nullopt;
        const auto got = std::span<const std::uint8_t>(rx_.data(), i);
        if (crc.value() != 0) {
            trace_received(got, Verdict::bad_crc);
            note("reply discarded: bad CRC");
            continue;
        }
        return got;
    }
}

Verdict SerialLink::screen(std::span<const std::uint8_t> frame, const Expect& expect) const {
    if (frame[2] == expect.code) return Verdict::accepted;
    return protocol::is_report_code(frame[2]) ? Verdict::report : Verdict::other_code;
}

void SerialLink::trace_received(std::span<const std::uint8_t> frame, Verdict v) {
    if (auto* t = tracing()) t->frame(false, protocol::stuff_framed(frame), frame, v);
}

bool SerialLink::read_frame_body(ReplyBuffer& dest, std::size_t& i, Crc16& crc) {
    i = 0;
    crc = Crc16{};
    std::size_t n = 6;  // until the length bytes are in
    int empty_reads = 0;
    auto last_byte_at = os_.now();
    while (i < n) {
        auto e = read_escaped(true);
        if (e.kind == Got::start) {  // a new frame begins: the bytes so far are lost
            i = 0;
            n = 6;
            crc = Crc16{};
            empty_reads = 0;
            last_byte_at = os_.now();
            continue;
        }
        if (e.kind == Got::nothing) {
            if (++empty_reads > kEmptyReadsInFrame && os_.now() - last_byte_at >= kFrameSilence) return false;
            continue;
        }
        empty_reads = 0;
        last_byte_at = os_.now();
        crc.add(e.byte);
        dest[i] = e.byte;
        if (i == 2) {
            n = static_cast<std::size_t>(dest[0]) * 256 + dest[1] + 4;
            if (n > protocol::kReplyMax) n = 0;  // cut off: it cannot be a frame of ours
        }
        ++i;
    }
    return true;
}

void SerialLink::flush() { port_->flush(); }

CloseResult SerialLink::close() {
    return port_->close() ? CloseResult::closed : CloseResult::failed_kept;
}

}  // namespace zr::link
