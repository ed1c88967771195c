#include "protocol/hex.h"

#include <cctype>
#include <cstdio>

namespace zr::protocol {

std::string hex(const std::uint8_t* p, std::size_t n) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

bool parse_hex(const std::string& text, std::vector<std::uint8_t>& out) {
    out.clear();
    int nibble = -1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && nibble < 0) {
            ++i;
            continue;
        }
        if (c == ' ' || c == ',' || c == ':' || c == '-' || c == '\t' || c == '\n') {
            if (nibble >= 0) return false;  // a lone digit before a separator
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    return nibble < 0;
}

}  // namespace zr::protocol
