#include "faults.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>


namespace zr::sim {

std::optional<Fault> FaultPlan::take(std::uint8_t code) {
    auto it = faults_.find(code);
    if (it == faults_.end()) it = faults_.find(kAny);
    if (it == faults_.end() || it->second.empty()) return std::nullopt;
    auto& queue = it->second;
    Fault f = queue.front();
    if (queue.front().times > 0 && --queue.front().times == 0) {
        queue.pop_front();
        if (queue.empty()) faults_.erase(it);
    }
    return f;
}

std::vector<std::string> FaultPlan::describe() const {
    std::vector<std::string> lines;
    for (const auto& [code, queue] : faults_) {
        char name[8];
        std::snprintf(name, sizeof name, "0x%02X", code);
        std::string line = (code == kAny ? std::string("all") : std::string(name)) + ": ";
        for (std::size_t i = 0; i < queue.size(); ++i) {
            const auto& f = queue[i];
            line += (i ? ", then " : "") + sim::describe(f) + " (" +
                    (f.times < 0 ? std::string("every reply")
                                 : std::to_string(f.times) + (f.times == 1 ? " reply" : " replies")) +
                    ")";
        }
        lines.push_back(line);
    }
    return lines;
}

namespace {

// Decimal (times, milliseconds, counts), or hex when `base` is 16 (codes, status bytes).
bool number(const std::string& s, int& out, int base = 10) {
    if (s.empty()) return false;
    std::string digits = s;
    if (base == 16 && digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || !std::isxdigit(static_cast<unsigned char>(digits[0]))) return false;
    char* end = nullptr;
    long v = std::strtol(digits.c_str(), &end, base);
    if (*end != '\0' || v < 0 || v > 1000000) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

bool FaultPlan::parse(const std::string& spec, std::string& error) {
    auto colon = spec.find(':');
    if (colon == std::string::npos) {
        error = "fault '" + spec + "': expected CODE:KIND[=VALUE]";
        return false;
    }
    std::string where = spec.substr(0, colon), what = spec.substr(colon + 1);
    int code = kAny;
    if (where != "all" && (!number(where, code, 16) || code > 255)) {
        error = "fault '" + spec + "': the command code is a byte in hex (67 or 0x67) or 'all'";
        return false;
    }
    Fault f;
    if (auto star = what.find('*'); star != std::string::npos) {
        if (!number(what.substr(star + 1), f.times) || f.times == 0) {
            error = "fault '" + spec + "': bad repeat count";
            return false;
        }
        what.resize(star);
    }
    std::string kind = what, arg;
    if (auto eq = what.find('='); eq != std::string::npos) {
        kind = what.substr(0, eq);
        arg = what.substr(eq + 1);
    }
    std::string second;
    if (auto comma = arg.find(','); comma != std::string::npos) {
        second = arg.substr(comma + 1);
        arg.resize(comma);
    }
    static const std::map<std::string, FaultKind> kinds = {
        {"drop", FaultKind::drop},         {"delay", FaultKind::delay},
        {"split", FaultKind::split},       {"bad-crc", FaultKind::bad_crc},
        {"wrong-echo", FaultKind::wrong_echo}, {"status", FaultKind::status},
        {"garbage", FaultKind::garbage},   {"oversize", FaultKind::oversize},
        {"close", FaultKind::close},
    };
    auto k = kinds.find(kind);
    if (k == kinds.end()) {
        error = "fault '" + spec + "': unknown kind '" + kind +
                "' (drop, delay=MS, split=N[,MS], bad-crc, wrong-echo, status=S, garbage=N, oversize[=N], close)";
        return false;
    }
    f.kind = k->second;
    bool needs_value = f.kind == FaultKind::delay || f.kind == FaultKind::split || f.kind == FaultKind::status ||
                       f.kind == FaultKind::garbage;
    if (!arg.empty() && !number(arg, f.value, f.kind == FaultKind::status ? 16 : 10)) {
        error = "fault '" + spec + "': bad value '" + arg + "'";
        return false;
    }
    if (needs_value && arg.empty()) {
        error = "fault '" + spec + "': '" + kind + "' needs a value";
        return false;
    }
    if (!second.empty() && !number(second, f.pause_ms)) {
        error = "fault '" + spec + "': bad pause '" + second + "'";
        return false;
    }
    if (f.kind == FaultKind::split && f.pause_ms == 0) f.pause_ms = 20;
    if (f.kind == FaultKind::oversize && f.value == 0) f.value = 16;
    if (f.kind == FaultKind::status && f.value > 255) {
        error = "fault '" + spec + "': status must be a byte";
        return false;
    }
    auto& queue = faults_[code];
    if (!queue.empty() && queue.back().times < 0) {
        error = "fault '" + spec + "' would never take effect: the one before it for the same command hits every "
                "reply (give that one a count, *N)";
        return false;
    }
    queue.push_back(f);
    return true;
}

namespace {

Bytes frame_of(Bytes payload, const std::optional<Fault>& f, bool serial) {
    if (f && payload.size() >= 4) {
        if (f->kind == FaultKind::wrong_echo) payload[2] = static_cast<std::uint8_t>(payload[2] + 1);
        if (f->kind == FaultKind::status) payload[3] = static_cast<std::uint8_t>(f->value);
        if (f->kind == FaultKind::oversize) {
            auto len = static_cast<std::size_t>(payload[0] * 256 + payload[1] + f->value);
            payload[0] = static_cast<std::uint8_t>((len >> 8) & 0xFF);
            payload[1] = static_cast<std::uint8_t>(len & 0xFF);
        }
    }
    if (f && f->kind == FaultKind::bad_crc) {
        Bytes framed = with_crc(payload);
        framed.back() ^= 0xFF;
        return serial ? protocol::stuff_framed(framed) : framed;
    }
    return serial ? serial_wire(payload) : with_crc(payload);
}

}  // namespace

std::optional<Bytes> frame_as_sent(const Bytes& payload, const std::optional<Fault>& fault) {
    if (fault && (fault->kind == FaultKind::drop || fault->kind == FaultKind::close)) return std::nullopt;
    return frame_of(payload, fault, false);
}

WireReply to_wire(const std::vector<Bytes>& replies, const std::optional<Fault>& fault, bool serial) {
    WireReply w;
    if (fault && fault->kind == FaultKind::drop) return w;
    if (fault && fault->kind == FaultKind::close) {
        w.close = true;
        return w;
    }
    bool first = true;
    for (const auto& r : replies) {
        Bytes frame = frame_of(r, fault, serial);
        int delay = first && fault && fault->kind == FaultKind::delay ? fault->value : 0;
        first = false;
        if (fault && fault->kind == FaultKind::garbage) {
            Bytes junk;
            for (int i = 0; i < fault->value; ++i) junk.push_back(static_cast<std::uint8_t>(0xA0 + (i % 16)));
            frame.insert(frame.begin(), junk.begin(), junk.end());
        }
        if (fault && fault->kind == FaultKind::split && fault->value > 1) {
            std::size_t pieces = static_cast<std::size_t>(fault->value);
            std::size_t size = (frame.size() + pieces - 1) / pieces;
            for (std::size_t at = 0; at < frame.size(); at += size) {
                auto end = std::min(frame.size(), at + size);
                w.chunks.push_back({at == 0 ? delay : fault->pause_ms, Bytes(frame.begin() + at, frame.begin() + end)});
            }
            continue;
        }
        w.chunks.push_back({delay, std::move(frame)});
    }
    return w;
}

std::string describe(const Fault& f) {
    switch (f.kind) {
        case FaultKind::drop: return "drop";
        case FaultKind::delay: return "delay " + std::to_string(f.value) + " ms";
        case FaultKind::split: return "split in " + std::to_string(f.value) + ", " + std::to_string(f.pause_ms) + " ms apart";
        case FaultKind::bad_crc: return "bad CRC";
        case FaultKind::wrong_echo: return "wrong echo";
        case FaultKind::status: {
            char s[16];
            std::snprintf(s, sizeof s, "status 0x%02X", f.value);
            return s;
        }
        case FaultKind::garbage: return std::to_string(f.value) + " garbage bytes first";
        case FaultKind::oversize: return "LEN +" + std::to_string(f.value);
        case FaultKind::close: return "close";
    }
    return "?";
}

}  // namespace zr::sim
