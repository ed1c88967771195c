#include "core/config.h"

#include "core/cause.h"
#include "core/known_keys.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <vector>

#include "platform/ini.h"

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

constexpr long kMinGapMax = 10000;

std::string upper(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
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
    s.trace_file = read_text(os, path, section, "ZR_TRACE_FILE", "");
    s.repeat_datas = byte("ZR_REPEAT_DATAS", section);
    s.read_timeout = byte("ZR_READ_TIMEOUT", section);
    s.reply_timing_text = read_text(os, path, section, "ZR_REPLY_TIMING", "");
    s.whole_timing = upper(s.reply_timing_text) == "WHOLE";
    s.min_gap_ms = static_cast<int>(std::clamp<long>(read_integer(os, path, section, "ZR_MIN_GAP_MS"), 0, kMinGapMax));
    s.tcp_port_text = read_text(os, path, section, "ZR_TCP_PORT", "");
    s.tcp_port = 7086;
    if (tcp_port_cause(s, section).empty() && !s.tcp_port_text.empty())
        s.tcp_port = static_cast<std::uint16_t>(std::stoul(s.tcp_port_text));
    s.address = byte("ZR_ADDERIESS", kSpecialSection);
    s.length = byte("ZR_LENGTH", kSpecialSection);

    // A missing key gives no characters, not the text "0".
    s.match_data.fill(0);
    auto match = read_text(os, path, kSpecialSection, "ZR_MATCH_DATA", "");
    for (std::size_t i = 0; i < s.match_data.size() && i < s.length && i < match.size(); ++i)
        s.match_data[i] = static_cast<std::uint8_t>(match[i]);
    return true;
}

namespace {

bool is_known(const std::string& key) {
    const std::string u = upper(key);
    return std::any_of(std::begin(kKnownKeys), std::end(kKnownKeys), [&](const char* k) { return u == k; });
}

// UTF-16 when a byte-order mark says so, or when ASCII text in it leaves its NUL bytes all
// at even or all at odd offsets; else just NULs among the bytes.
const char* encoding_guess(const std::string& text) {
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) return "UTF-16?";
    std::size_t nul[2] = {0, 0};
    const std::size_t n = std::min<std::size_t>(text.size(), 256);
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] == '\0') ++nul[i % 2];
    const bool one_side = (nul[0] == 0) != (nul[1] == 0);
    return one_side && (nul[0] + nul[1]) * 4 >= n ? "UTF-16?" : "it holds NUL bytes";
}

bool blank(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

}  // namespace

std::string key_cause(platform::Platform& os, const std::string& path, const std::string& section,
                      const std::string& key, bool empty) {
    const auto file = os.read_profile_file(path);
    if (file.directory) return cause_text(file.name, " is a directory, not a settings file");
    if (!file.found) {
        if (file.failure.kind == platform::Failure::Kind::none) return {};
        return cause_text("cannot read ", file.name, ": ", file.failure.reason);
    }
    if (!platform::ini::eight_bit(file.text)) {
        // Some systems' profile functions read UTF-16 themselves: the encoding is not at
        // fault when they found a value that these bytes do not give.
        if (!os.read_profile(path, section, key, "").empty() && !platform::ini::get(file.text, section, key))
            return {};
        return cause_text(file.name, " is not a text file in an 8-bit encoding (", encoding_guess(file.text),
                          "): save it as ANSI/UTF-8");
    }
    if (blank(file.text)) return cause_text(file.name, " is empty");
    if (!platform::ini::has_section(file.text, section)) return cause_text(file.name, ": no section [", section, "]");
    const std::string where = cause_text(file.name, " [", section, "]");
    if (empty) return cause_text(where, ": ", key, " is empty");
    if (platform::ini::get(file.text, section, key)) return {};
    std::string text = cause_text(where, ": no ", key);
    std::string unknown;
    for (const auto& k : platform::ini::keys(file.text, section)) {
        if (is_known(k)) continue;
        if (nearest_known(k) == key) return cause_text(text, " ('", k, "' is no key: did you mean ", key, "?)");
        if (unknown.empty()) unknown = k;
    }
    if (!unknown.empty()) text += cause_text(" (unknown key '", unknown, "')");
    return text;
}

std::string timing_cause(const Settings& s, const std::string& section) {
    const auto u = upper(s.reply_timing_text);
    if (u.empty() || u == "FIXED" || u == "WHOLE") return {};
    return cause_text("ZR_REPLY_TIMING '", s.reply_timing_text, "' in [", section, "] is neither fixed nor whole");
}

std::string tcp_port_cause(const Settings& s, const std::string& section) {
    const auto& t = s.tcp_port_text;
    // Digits only, and few of them: "+80", "0x50", "80.0" or a huge number are no ports.
    const bool digits =
        !t.empty() && t.size() <= 5 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (t.empty() || (digits && std::stoul(t) >= 1 && std::stoul(t) <= 65535)) return {};
    return cause_text("ZR_TCP_PORT '", t, "' in [", section, "] is not a port number (1 to 65535)");
}

std::string settings_cause(platform::Platform& os, const std::string& path, const std::string& section,
                           const Settings& s, int result) {
    const char* keys[] = {"ZR_PORT_TYPE", "ZR_COM_NUMBER", "ZR_HOST_NAME"};
    const std::string* values[] = {&s.port_type, &s.com_name, &s.host_name};
    if (result != 0) {  // a key present but empty
        for (std::size_t i = 0; i < 3; ++i)
            if (values[i]->empty()) {
                auto why = key_cause(os, path, section, keys[i], true);
                return why.empty() ? cause_text(keys[i], " is empty in [", section, "] of ", path) : why;
            }
        return {};
    }
    if (auto why = key_cause(os, path, section, "ZR_PORT_TYPE"); !why.empty()) return why;
    std::string text = cause_text("ZR_PORT_TYPE '", s.port_type, "' is neither COM nor TCP");
    const std::string u = upper(s.port_type);
    if (u == "COM" || u == "TCP") text += " (capitals count)";
    return text;
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
