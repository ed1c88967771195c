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
    const int sent = send_stuffed(payload, reply_expected);
    if (auto* t = tracing()) {
        const auto frame = protocol::with_crc(protocol::Bytes(payload.begin(), payload.end()));
        t->frame(true, protocol::stuff_framed(frame), frame, sent > 0 ? Verdict::sent : Verdict::send_failed);
    }
    if (port_->gone() && note_.empty()) note("link lost: the serial device has gone");
    return sent;
}

int SerialLink::send_stuffed(std::span<const std::uint8_t> payload, bool reply_expected) {
    if (port_->gone()) return 0;
    if (owed_) {
        // A reply the reader still owes would be taken for the answer to this request.
        const auto end = os_.now() + kOwedReplyWait;
        ReplyBuffer scratch;
        owed_wait_ = true;
        while (owed_ && os_.now() < end && !port_->gone() && port_->wait_readable(end - os_.now()))
            receive_frame(scratch, Expect{*owed_}, end);
        owed_wait_ = false;
        owed_.reset();
    }
    // Whatever is already waiting answers an earlier request (a late reply, an uncollected
    // report). Left there, it would be taken for the answer to this one.
    drain();
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
    if (reply_expected && payload.size() > 2) owed_ = payload[2];
    return static_cast<int>(payload.size());
}

void SerialLink::drain() {
    auto* t = tracing();
    protocol::Bytes drained;
    for (std::size_t i = 0; i < kDiscardMax; ++i) {
        const int b = port_->read_byte();
        if (b < 0) break;
        if (t) drained.push_back(static_cast<std::uint8_t>(b));
    }
    if (!t || drained.empty()) return;
    protocol::Deframer deframer(true);
    for (const auto& f : deframer.feed(drained)) {
        const auto frame = protocol::with_crc(f);
        t->frame(false, protocol::stuff_framed(frame), frame, Verdict::drained);
    }
    t->event("drained " + std::to_string(drained.size()) + " bytes unread before the send");
}

int SerialLink::receive_frame(ReplyBuffer& dest, Expect expect, Clock /*deadline*/) {
    for (;;) {
        // Hunt for a start byte; whatever precedes it belongs to no frame.
        Escaped e{};
        do {
            e = read_escaped(false);
            if (e.kind == Got::nothing) return 0;
        } while (e.kind != Got::start);

        std::size_t i = 0;
        Crc16 crc;
        if (!read_frame_body(dest, i, crc)) return 0;
        const auto got = std::span<const std::uint8_t>(dest.data(), i);
        if (crc.value() != 0) {
            trace_received(got, Verdict::bad_crc);
            note("reply discarded: bad CRC");
            continue;
        }
        const bool late = owed_ && dest[2] == *owed_;
        if (late) owed_.reset();
        if (dest[2] != expect.code) {
            const auto v = protocol::is_report_code(dest[2]) ? Verdict::report : Verdict::other_code;
            trace_received(got, v);
            note(std::string("reply ") + verdict_text(v) + ": code 0x" + protocol::hex(&dest[2], 1) + " " +
                 protocol::command_name(dest[2]));
            continue;
        }
        trace_received(got, owed_wait_ ? Verdict::late : Verdict::accepted);
        return static_cast<int>(i);
    }
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
