#include "json.h"

#include <cstdio>

namespace zrjson {
namespace {

void escape(unsigned code, std::string& out) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04X", code);
    out += buf;
}

// The length of the well-formed UTF-8 sequence at s[i] and its code point; 0 when the bytes
// there are not one.
std::size_t utf8_sequence(std::string_view s, std::size_t i, unsigned& code) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n;
    unsigned min;
    if (c >= 0xC2 && c <= 0xDF) n = 2, min = 0x80, code = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, min = 0x800, code = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, min = 0x10000, code = c & 0x07;
    else return 0;
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        code = code << 6 | (b & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

}  // namespace

void append_quoted(std::string& out, std::string_view s) {
    out += '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    escape(c, out);
                } else if (c < 0x80) {
                    out += static_cast<char>(c);
                } else {
                    unsigned code = 0;
                    const std::size_t n = utf8_sequence(s, i, code);
                    if (n == 0) {
                        escape(c, out);  // one byte at a time: the next may start a good sequence
                    } else if (code < 0x10000) {
                        escape(code, out);
                        i += n - 1;
                    } else {
                        code -= 0x10000;
                        escape(0xD800 + (code >> 10), out);
                        escape(0xDC00 + (code & 0x3FF), out);
                        i += n - 1;
                    }
                }
        }
    }
    out += '"';
}

std::string quoted(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    append_quoted(out, s);
    return out;
}

Json& Json::set(const std::string& key, Json value) {
    auto& o = std::get<Object>(v_);
    for (auto& m : o)
        if (m.key == key) {
            m.value = std::move(value);
            return *this;
        }
    o.push_back({key, std::move(value)});
    return *this;
}

Json& Json::push(Json value) {
    std::get<Array>(v_).push_back(std::move(value));
    return *this;
}

void Json::dump(std::string& out) const {
    if (std::holds_alternative<std::nullptr_t>(v_)) {
        out += "null";
    } else if (auto* b = std::get_if<bool>(&v_)) {
        out += *b ? "true" : "false";
    } else if (auto* n = std::get_if<long long>(&v_)) {
        out += std::to_string(*n);
    } else if (auto* s = std::get_if<std::string>(&v_)) {
        append_quoted(out, *s);
    } else if (auto* a = std::get_if<Array>(&v_)) {
        out += '[';
        for (std::size_t i = 0; i < a->size(); ++i) {
            if (i) out += ',';
            (*a)[i].dump(out);
        }
        out += ']';
    } else {
        const auto& o = std::get<Object>(v_);
        out += '{';
        for (std::size_t i = 0; i < o.size(); ++i) {
            if (i) out += ',';
            append_quoted(out, o[i].key);
            out += ':';
            o[i].value.dump(out);
        }
        out += '}';
    }
}

std::string Json::dump() const {
    std::string out;
    dump(out);
    return out;
}

std::string Json::text() const { return is_string() ? str() : dump(); }

}  // namespace zrjson
