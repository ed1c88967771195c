#include "core/config.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>

namespace zr::core {
namespace {

constexpr std::size_t kProfileBuffer = 260;  // characters, terminator included

std::string clean(const std::string& raw) {
    std::string out;
    std::size_t n = 0;
    for (char c : raw) {
        if (++n >= kProfileBuffer) break;  // what fits the profile buffer
        if (c == ';') break;
        if (c == ' ' || c == '\t') continue;
        out.push_back(c);
    }
    return out;
}

long to_integer(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t v = 0;
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        v = std::min<std::int64_t>(v * 10 + (text[i] - '0'), kMax + 1);
    v = negative ? -v : v;
    if (v > kMax) v = kMax;
    return static_cast<long>(v);
}

std::uint8_t low_byte(long v) { return static_cast<std::uint8_t>(static_cast<unsigned long>(v) & 0xFF); }

}  // namespace

std::string read_text(platform::Platform& os, const std::string& path, const std::string& section,
                      const std::string& key, const std::string& fallback) {
    return clean(os.read_profile(path, section, key, fallback));
}

long read_integer(platform::Platform& os, const std::string& path, const std::string& section,
                  const std::string& key) {
    return to_integer(read_text(os, path, section, key));
}

bool read_settings(platform::Platform& os, const std::string& path, const std::string& section, Settings& s) {
    auto text = [&](const char* key) { return read_text(os, path, section, key); };
    auto byte = [&](const char* key, const std::string& sec) { return low_byte(read_integer(os, path, sec, key)); };
    s.port_type = text("ZR_PORT_TYPE");
    s.com_name = text("ZR_COM_NUMBER");
    s.host_name = text("ZR_HOST_NAME");
    if (s.port_type.empty() || s.com_name.empty() || s.host_name.empty()) return false;

    s.scan_tries = byte("ZR_SCAN_TRIES", section);
    s.retries = byte("ZR_RETRIES", section);
    s.read_tries = byte("ZR_READ_TRIES", section);
    if (s.read_tries < 2) s.read_tries = 2;
    s.write_tries = byte("ZR_WRITE_TRIES", section);
    if (s.write_tries < 2) s.write_tries = 2;
    s.antennas = byte("ZR_ANTENNAS", section);
    if (s.antennas == 0) s.antennas = 1;
    s.antenna_control = byte("ZR_ANTENNA_CONCTL", section);
    s.save_log = byte("ZR_SAVE_LOG_FILE", section);
    s.log_file_name = text("ZR_LOG_FILE_NAME");
    s.repeat_datas = byte("ZR_REPEAT_DATAS", section);
    s.read_timeout = byte("ZR_READ_TIMEOUT", section);
    s.address = byte("ZR_ADDERIESS", kSpecialSection);
    s.length = byte("ZR_LENGTH", kSpecialSection);

    // A missing key gives no characters, not the text "0".
    s.match_data.fill(0);
    auto match = read_text(os, path, kSpecialSection, "ZR_MATCH_DATA", "");
    for (std::size_t i = 0; i < s.match_data.size() && i < s.length && i < match.size(); ++i)
        s.match_data[i] = static_cast<std::uint8_t>(match[i]);
    return true;
}

bool parse_ipv4(const std::string& text, std::uint32_t& address) {
    std::size_t i = 0, end = text.size();
    while (i < end && (text[i] == ' ' || text[i] == '\t')) ++i;
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    std::uint32_t value = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= end || text[i] != '.') return false;
            ++i;
        }
        std::size_t digits = 0;
        unsigned n = 0;
        while (i < end && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 4) {
            n = n * 10 + static_cast<unsigned>(text[i++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || n > 255) return false;
        value = (value << 8) | n;
    }
    if (i != end) return false;
    address = value;
    return true;
}

}  // namespace zr::core
