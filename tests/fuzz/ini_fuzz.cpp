// libFuzzer target: the INI text reader and editor and the settings parsing on any text, with
// round trips: a plain value that was set reads back, every other key keeps its value, a
// second identical set changes nothing, a UTF-8 byte-order mark changes nothing but itself,
// and numbers and IPv4 addresses come back as they were written.
//
//   cmake -S . -B build-fuzz -DZR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang
//   cmake --build build-fuzz --target zr_ini_fuzz && build-fuzz/tests/fuzz/zr_ini_fuzz -max_total_time=120
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "core/config.h"
#include "fake_platform.h"
#include "platform/ini.h"

namespace ini = zr::platform::ini;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string trimmed(std::string s) {
    while (!s.empty() && blank(s.back())) s.pop_back();
    while (!s.empty() && blank(s.front())) s.erase(s.begin());
    return s;
}

bool same_name(const std::string& a, const std::string& b) {
    auto x = trimmed(a), y = trimmed(b);
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin(), [](char p, char q) {
               return std::tolower(static_cast<unsigned char>(p)) == std::tolower(static_cast<unsigned char>(q));
           });
}

// What a caller may write and read back unchanged: one line, and nothing the line syntax
// takes for itself (a closing bracket in a section, '=' in a key, a key that reads as a
// comment or a section, blanks around a value, quotes around a value).
bool plain_section(const std::string& s) { return s.find_first_of("\n]") == std::string::npos; }
bool plain_key(const std::string& k) {
    auto t = trimmed(k);
    return k.find_first_of("\n=") == std::string::npos && (t.empty() || (t.front() != ';' && t.front() != '['));
}
bool plain_value(const std::string& v) {
    return v.find('\n') == std::string::npos && trimmed(v) == v &&
           !(v.size() >= 2 && v.front() == '"' && v.back() == '"');
}

std::string dotted(std::uint32_t a) {
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
           "." + std::to_string(a & 0xFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const auto section = in.ConsumeRandomLengthString(24);
    const auto key = in.ConsumeRandomLengthString(24);
    const auto value = in.ConsumeRandomLengthString(40);
    const auto other_section = in.ConsumeRandomLengthString(24);
    const auto other_key = in.ConsumeRandomLengthString(24);
    const auto address = in.ConsumeIntegral<std::uint32_t>();
    const auto number = in.ConsumeIntegral<std::int32_t>();
    const auto text = in.ConsumeRemainingBytesAsString();
    const std::string bom = "\xEF\xBB\xBF";
    static zr::test::FakePlatform os;  // profile strings kept in memory, read with the same rules

    // Any text reads without harm, and a byte-order mark in front reads the same.
    const auto before = ini::get(text, other_section, other_key);
    if (!text.starts_with(bom)) {
        check(ini::get(bom + text, other_section, other_key) == before);
        check(ini::set(bom + text, section, key, value) == bom + ini::set(text, section, key, value));
    }

    if (plain_section(section) && plain_key(key) && plain_value(value)) {
        const auto after = ini::set(text, section, key, value);
        check(ini::get(after, section, key) == value);
        check(ini::set(after, section, key, value) == after);
        if (!(same_name(other_section, section) && same_name(other_key, key)))
            check(ini::get(after, other_section, other_key) == before);

        // Settings: a number written as text, with a sign or leading zeros, reads back as itself.
        auto digits = std::to_string(number);
        if (number < 0) digits.erase(0, 1);
        const std::string sign = number < 0 ? "-" : (number & 1) ? "+" : "";
        os.files["/f.ini"] = ini::set(text, section, key, sign + std::string(address % 3, '0') + digits);
        check(zr::core::read_integer(os, "/f.ini", section, key) == number);
    }

    // Any text: the integer stays in the 32-bit range.
    os.files["/g.ini"] = text;
    const long n = zr::core::read_integer(os, "/g.ini", other_section, other_key);
    check(n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max());

    // IPv4: a formatted address, with blanks around it, parses back to itself; whatever parses
    // is only digits and dots within the blanks, and parses the same once formatted.
    std::uint32_t parsed = ~address;
    check(zr::core::parse_ipv4(" " + dotted(address) + "\t", parsed) && parsed == address);
    const auto candidate = text.substr(0, 40);
    if (zr::core::parse_ipv4(candidate, parsed)) {
        check(trimmed(candidate).find_first_not_of("0123456789.") == std::string::npos);
        std::uint32_t again = ~parsed;
        check(zr::core::parse_ipv4(dotted(parsed), again) && again == parsed);
    }
    return 0;
}
