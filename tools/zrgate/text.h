// Small text helpers shared by the gateway's parts: JSON strings (common/json.h), UTC times, hex.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "common/json.h"

namespace zrgate {

// `s` as a JSON string literal, quotes included: the tools' one writer, whose output is ASCII
// (and so valid UTF-8) whatever bytes `s` holds.
inline std::string json_string(std::string_view s) { return zrjson::quoted(s); }

// "2026-12-09T09:47:26.123Z": what consumers parse without knowing the site's time zone.
inline std::string utc_text(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t s = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    ::gmtime_r(&s, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return buf;
}

inline std::string utc_now() { return utc_text(std::chrono::system_clock::now()); }

inline std::string hex_text(const std::uint8_t* p, std::size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

}  // namespace zrgate
