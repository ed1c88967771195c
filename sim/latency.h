// How long the reader takes to answer, per command code or for all: a real reader answers
// a reset at once but needs time for each tag it talks to, and a client's timeouts should
// be tried against that.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zr::sim {

struct Latency {
    int ms = 0;
    int jitter_ms = 0;  // up to this much more, uniformly, drawn per request
};

class LatencyPlan {
public:
    static constexpr int kAny = -1;
    // `code` kAny applies to every command without a latency of its own.
    void set(int code, Latency l) { latencies_[code] = l; }
    void clear() { latencies_.clear(); }
    // "72=30", "0x72=30~10", "identify=30", "all=10": the command as a hex byte (0x optional),
    // a command name as the trace prints it (any case; "reset" for RESET/TEST_MODE) or 'all';
    // milliseconds in decimal. false + message.
    bool parse(const std::string& text, std::string& error);
    // The command's latency: its own, else the one for all.
    std::optional<Latency> find(std::uint8_t code) const;
    // One request's delay: the latency plus a jitter drawn for it.
    std::chrono::milliseconds draw(std::uint8_t code);
    // One line per entry: "all: 10 ms", "0x72 READ_USER_DATA: 30 ms + 0..10 ms".
    std::vector<std::string> describe() const;

private:
    std::map<int, Latency> latencies_;
    std::minstd_rand random_{std::random_device{}()};
};

}  // namespace zr::sim
