#include "json.h"

#include <cstdio>

namespace zrtool {

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

namespace {

void quote(const std::string& s, std::string& out) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04X", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

}  // namespace

void Json::dump(std::string& out) const {
    if (std::holds_alternative<std::nullptr_t>(v_)) {
        out += "null";
    } else if (auto* b = std::get_if<bool>(&v_)) {
        out += *b ? "true" : "false";
    } else if (auto* n = std::get_if<long long>(&v_)) {
        out += std::to_string(*n);
    } else if (auto* s = std::get_if<std::string>(&v_)) {
        quote(*s, out);
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
            quote(o[i].key, out);
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

}  // namespace zrtool
