#include "latency.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "wire.h"

namespace zr::sim {
namespace {

constexpr long kMaxMs = 3600000;  // an hour: anything longer is a typo, not a slow reader

bool milliseconds(const std::string& s, int& out) {
    if (s.empty() || !std::isdigit(static_cast<unsigned char>(s[0]))) return false;  // no sign
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (*end != '\0' || v > kMaxMs) return false;
    out = static_cast<int>(v);
    return true;
}

std::string upper(std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return s;
}

// A hex byte ("72", "0x72") or a command name: the whole name or one of its '/' parts.
std::optional<int> command(const std::string& s) {
    std::string digits = s;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (!digits.empty() && digits.size() <= 2 &&
        std::all_of(digits.begin(), digits.end(), [](unsigned char ch) { return std::isxdigit(ch); }))
        return static_cast<int>(std::strtol(digits.c_str(), nullptr, 16));
    const std::string wanted = upper(s);
    for (int c = 0; c < 256; ++c) {
        const auto* row = protocol::find_command(static_cast<std::uint8_t>(c));
        if (!row) continue;
        const std::string name = row->name;
        if (name == wanted) return c;
        for (std::size_t at = 0; at <= name.size();) {
            const auto slash = std::min(name.find('/', at), name.size());
            if (name.substr(at, slash - at) == wanted) return c;
            at = slash + 1;
        }
    }
    return std::nullopt;
}

}  // namespace

bool LatencyPlan::parse(const std::string& text, std::string& error) {
    const auto eq = text.find('=');
    if (eq == std::string::npos) {
        error = "latency '" + text + "': expected CODE=MS[~JITTER]";
        return false;
    }
    const std::string where = text.substr(0, eq);
    std::string value = text.substr(eq + 1), jitter;
    const auto tilde = value.find('~');
    if (tilde != std::string::npos) {
        jitter = value.substr(tilde + 1);
        value.resize(tilde);
    }
    int code = kAny;
    if (where != "all") {
        auto c = command(where);
        if (!c) {
            error = "latency '" + text + "': the command is a byte in hex (72 or 0x72), a command name (identify) "
                    "or 'all'";
            return false;
        }
        code = *c;
    }
    Latency l;
    if (!milliseconds(value, l.ms) || (tilde != std::string::npos && !milliseconds(jitter, l.jitter_ms))) {
        error = "latency '" + text + "': milliseconds are whole numbers from 0 to " + std::to_string(kMaxMs) +
                " (MS or MS~JITTER)";
        return false;
    }
    latencies_[code] = l;
    return true;
}

std::optional<Latency> LatencyPlan::find(std::uint8_t code) const {
    auto it = latencies_.find(code);
    if (it == latencies_.end()) it = latencies_.find(kAny);
    if (it == latencies_.end()) return std::nullopt;
    return it->second;
}

std::chrono::milliseconds LatencyPlan::draw(std::uint8_t code) {
    const auto l = find(code);
    if (!l) return std::chrono::milliseconds(0);
    int jitter = 0;
    if (l->jitter_ms > 0) jitter = std::uniform_int_distribution<int>(0, l->jitter_ms)(random_);
    return std::chrono::milliseconds(l->ms + jitter);
}

std::vector<std::string> LatencyPlan::describe() const {
    std::vector<std::string> lines;
    for (const auto& [code, l] : latencies_) {
        char name[8];
        std::snprintf(name, sizeof name, "0x%02X", code);
        std::string line = code == kAny ? std::string("all")
                                        : std::string(name) + " " + command_name(static_cast<std::uint8_t>(code));
        line += ": " + std::to_string(l.ms) + " ms";
        if (l.jitter_ms > 0) line += " + 0.." + std::to_string(l.jitter_ms) + " ms";
        lines.push_back(line);
    }
    return lines;
}

}  // namespace zr::sim
