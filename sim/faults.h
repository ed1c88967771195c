// Faults injected between the reader model and the wire, per command code or for all.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "wire.h"

namespace zr::sim {

enum class FaultKind {
    drop,        // no reply
    delay,       // reply after `value` ms
    split,       // reply in `value` pieces, `pause_ms` apart
    bad_crc,     // CRC low byte inverted
    wrong_echo,  // command code + 1 (a well-formed reply to another command)
    status,      // status byte replaced by `value`
    garbage,     // `value` junk bytes before the frame
    oversize,    // LEN field `value` larger than the frame
    close,       // the connection is closed instead of a reply
};

struct Fault {
    FaultKind kind = FaultKind::drop;
    int value = 0;
    int pause_ms = 0;
    int times = -1;  // how many replies it hits; -1 = every one
};

class FaultPlan {
public:
    static constexpr int kAny = -1;
    // `code` kAny applies to every command without a fault of its own.
    // set() makes `f` the command's only fault; parse() queues one after those already given.
    void set(int code, Fault f) { faults_[code] = {f}; }
    void clear() { faults_.clear(); }
    // The fault for a reply to `code`, counting one use: the first of the command's queue
    // until its count is spent, then the next.
    std::optional<Fault> take(std::uint8_t code);
    // "67:delay=200", "all:split=3,20", "0x71:status=05", "72:drop*2": the command code and a
    // status in hex (0x optional), as every code is printed; times, counts and pauses in
    // decimal. false + message; also when the fault before it for that command hits every
    // reply, so that this one would never take effect.
    bool parse(const std::string& spec, std::string& error);
    // One line per command with faults, in the order they take effect:
    // "0x67: drop (1 reply), then delay 200 ms (every reply)".
    std::vector<std::string> describe() const;

private:
    std::map<int, std::deque<Fault>> faults_;
};

// What a connection is to write, piece by piece.
struct Chunk {
    int delay_ms;  // after the previous chunk (the first: after the request)
    Bytes bytes;
};
struct WireReply {
    std::vector<Chunk> chunks;
    bool close = false;
};

// The frame that goes out for a reply payload once `fault` has changed it (CRC included,
// without start byte and stuffing); nothing when the fault sends none.
std::optional<Bytes> frame_as_sent(const Bytes& payload, const std::optional<Fault>& fault);

// The wire form of reply payloads, with `fault` applied to each.
WireReply to_wire(const std::vector<Bytes>& replies, const std::optional<Fault>& fault, bool serial);

std::string describe(const Fault& f);

}  // namespace zr::sim
