// What a link tells about the frames it moves, for the wire trace. A link without a tracer,
// or whose tracer is off, does nothing more than look at one flag.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zr::link {

// What became of a frame.
enum class Verdict : std::uint8_t {
    sent,
    send_failed,
    accepted,
    report,      // discarded: a report or reader-first frame, never the answer to this command
    other_code,  // discarded: the answer to another command
    too_short,   // discarded: shorter than the command takes over TCP
    too_long,    // discarded: longer than a TCP reply may be
    bad_crc,
    drained,     // discarded unread before a send: it answers nothing the send will ask
    late,        // discarded: the reply an earlier command gave up waiting for
};

constexpr const char* verdict_text(Verdict v) {
    switch (v) {
        case Verdict::sent: return "sent";
        case Verdict::send_failed: return "send failed";
        case Verdict::accepted: return "accepted";
        case Verdict::report: return "discarded as a report";
        case Verdict::other_code: return "discarded: another command's";
        case Verdict::too_short: return "discarded: shorter than the command takes";
        case Verdict::too_long: return "discarded: longer than a TCP reply may be";
        case Verdict::bad_crc: return "bad CRC";
        case Verdict::drained: return "drained";
        case Verdict::late: return "discarded: a late reply";
    }
    return "?";
}

class Tracer {
public:
    virtual ~Tracer() = default;
    virtual bool on() const = 0;
    // `outgoing`: from the host to the reader. `wire`: the bytes as on the line; `frame`: the
    // frame they carry (the same over TCP; without start byte and stuffing on serial).
    virtual void frame(bool outgoing, std::span<const std::uint8_t> wire, std::span<const std::uint8_t> frame,
                       Verdict verdict) = 0;
    virtual void event(std::string_view text) = 0;
};

}  // namespace zr::link
