// Faults injected between the reader model and the wire, per command code or for all.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol.h"

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
    void set(int code, Fault f) { faults_[code] = f; }
    void clear() { faults_.clear(); }
    // The fault for a reply to `code`, counting one use.
    std::optional<Fault> take(std::uint8_t code);
    // "0x67:delay=200", "all:split=3,20", "0x71:status=0x05", "0x72:drop*2". false + message.
    bool parse(const std::string& spec, std::string& error);

private:
    std::map<int, Fault> faults_;
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

// The wire form of reply payloads, with `fault` applied to each.
WireReply to_wire(const std::vector<Bytes>& replies, const std::optional<Fault>& fault, bool serial);

std::string describe(const Fault& f);

}  // namespace zr::sim
