// Connection settings and tuning bytes read from the caller's INI file at open.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace zr::core {

inline constexpr const char* kSpecialSection = "ESPECIAL FLAG";

struct Settings {
    std::string port_type;  // "COM" or "TCP"
    std::string com_name;
    std::string host_name;
    std::string log_file_name;
    std::string trace_file;  // "ZR_TRACE_FILE": the session's own wire trace, appended to
    std::uint8_t scan_tries = 0;
    std::uint8_t retries = 0;
    std::uint8_t read_tries = 0;
    std::uint8_t write_tries = 0;
    std::uint8_t antennas = 0;
    std::uint8_t antenna_control = 0;
    std::uint8_t save_log = 0;
    std::uint8_t repeat_datas = 0;
    std::uint8_t read_timeout = 0;
    std::uint8_t address = 0;  // "ZR_ADDERIESS"
    std::uint8_t length = 0;   // "ZR_LENGTH"
    std::array<std::uint8_t, 8> match_data{};
    // "ZR_REPLY_TIMING" as written ("" when absent) and what it reads as.
    std::string reply_timing_text;
    bool whole_timing = false;
    int min_gap_ms = 0;  // "ZR_MIN_GAP_MS"
    // "ZR_TCP_PORT" as written ("" when absent) and the reader's TCP port it names.
    std::string tcp_port_text;
    std::uint16_t tcp_port = 7086;
};

// A value as the library reads it: the profile text up to a ';', blanks and tabs removed.
std::string read_text(platform::Platform& os, const std::string& path, const std::string& section,
                      const std::string& key, const std::string& fallback = "0");
// The same text as a decimal integer with optional sign (0 without digits).
long read_integer(platform::Platform& os, const std::string& path, const std::string& section,
                  const std::string& key);

// Reads every key into `s` in the library's order. false when the port type, port name or
// host name is empty; the keys after them are then not read.
bool read_settings(platform::Platform& os, const std::string& path, const std::string& section, Settings& s);

// Why an open of `section` in `path` finds no usable value for `key` (missing, or empty when
// `empty` is set): the file cannot be read, is a directory or empty, the section is missing,
// the key is missing (with the known key a misspelt one in the section stands for). "" when
// the file holds the key after all, or the platform cannot say. Reads the file: only for
// failures.
std::string key_cause(platform::Platform& os, const std::string& path, const std::string& section,
                      const std::string& key, bool empty = false);

// The cause when a key the library adds holds a value it does not take ("" when all do):
// ZROpen then gives -11.
std::string timing_cause(const Settings& s, const std::string& section);
// The same for ZR_TCP_PORT: a decimal 1 to 65535 when present.
std::string tcp_port_cause(const Settings& s, const std::string& section);

// The cause of an open that failed on the settings alone: `result` is read_settings' false
// (-11) or a port type that is neither COM nor TCP (0).
std::string settings_cause(platform::Platform& os, const std::string& path, const std::string& section,
                           const Settings& s, int result);

// "a.b.c.d" with four decimal numbers 0-255, blanks around the text allowed.
bool parse_ipv4(const std::string& text, std::uint32_t& address_host_order);

}  // namespace zr::core
