// The one JSON writer of zrtool and zrgate. Every document it makes is ASCII, and so valid
// UTF-8, whatever bytes the names and values hold:
//   - '"', '\\', '\n', '\r', '\t' as two-character escapes; other bytes below 0x20 and 0x7F as
//     \u00XX;
//   - a well-formed UTF-8 sequence as the \u escape of its character (two, a surrogate pair,
//     above U+FFFF): a JSON reader gets the same text back;
//   - any other byte (not UTF-8: a Latin-1 path, a truncated sequence, an encoded surrogate,
//     an overlong form) as \u00XX of the byte itself, i.e. the character of that number in
//     Latin-1. Nothing is dropped and a Latin-1 name still reads right.
// Objects keep their insertion order so that output reads in the order it was produced.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace zrjson {

// Appends `s` as a JSON string literal, quotes included, by the rules above.
void append_quoted(std::string& out, std::string_view s);
// `s` as a JSON string literal.
std::string quoted(std::string_view s);

class Json {
public:
    struct Member;
    using Array = std::vector<Json>;
    using Object = std::vector<Member>;

    Json() : v_(nullptr) {}
    Json(bool b) : v_(b) {}
    Json(int n) : v_(static_cast<long long>(n)) {}
    Json(long long n) : v_(n) {}
    Json(const char* s) : v_(std::string(s ? s : "")) {}
    Json(std::string s) : v_(std::move(s)) {}
    Json(Array a) : v_(std::move(a)) {}
    Json(Object o) : v_(std::move(o)) {}
    static Json object() { return Json(Object{}); }
    static Json array() { return Json(Array{}); }

    // Objects: sets `key` (replacing an earlier value). Arrays: appends.
    Json& set(const std::string& key, Json value);
    Json& push(Json value);

    bool is_string() const { return std::holds_alternative<std::string>(v_); }
    bool is_object() const { return std::holds_alternative<Object>(v_); }
    bool is_array() const { return std::holds_alternative<Array>(v_); }
    bool is_null() const { return std::holds_alternative<std::nullptr_t>(v_); }
    const std::string& str() const { return std::get<std::string>(v_); }
    const Object& members() const { return std::get<Object>(v_); }
    const Array& items() const { return std::get<Array>(v_); }

    std::string dump() const;
    // The value as a person reads it in text output: strings bare, the rest as JSON.
    std::string text() const;

private:
    void dump(std::string& out) const;
    std::variant<std::nullptr_t, bool, long long, std::string, Array, Object> v_;
};

struct Json::Member {
    std::string key;
    Json value;
};

}  // namespace zrjson
