// Why a call failed, in words, kept per thread for ZRLastCause.
//
// Code that knows why a call is about to fail says so with set_cause(); the exported
// function's wrapper (guarded()) gives a failure that nobody explained a generic text from
// its result code, so the text never describes an older failure. Successful calls leave the
// text alone. Setting a cause costs a string assignment; nothing is done on the success path
// beyond reading one thread-local counter.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace zr::core {

// Records `text` as the cause of the call running on this thread. A later set_cause in the
// same call replaces it (the innermost, latest explanation wins).
void set_cause(std::string text);

// The text ZRLastCause returns on this thread ("" until a call fails).
const char* last_cause() noexcept;

// A byte as "0xNN" (upper-case hex), for cause texts.
struct Hex {
    unsigned value;
};
inline Hex hex(unsigned b) { return {b & 0xFFu}; }

namespace detail {
inline void append(std::string& s, std::string_view v) { s.append(v); }
inline void append(std::string& s, const char* v) { s.append(v ? v : "(null)"); }
inline void append(std::string& s, const std::string& v) { s.append(v); }
inline void append(std::string& s, char c) { s.push_back(c); }
inline void append(std::string& s, Hex h) {
    constexpr char digits[] = "0123456789ABCDEF";
    s.append("0x");
    s.push_back(digits[(h.value >> 4) & 0xF]);
    s.push_back(digits[h.value & 0xF]);
}
template <std::integral I>
    requires(!std::same_as<I, char> && !std::same_as<I, bool>)
void append(std::string& s, I v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr);
}
}  // namespace detail

// Concatenates texts, characters, integers (decimal) and hex() bytes, without printf:
//   cause_text("cannot open ", path, ": ", reason)
template <typename... Parts>
std::string cause_text(const Parts&... parts) {
    std::string s;
    (detail::append(s, parts), ...);
    return s;
}

// Shorthand for set_cause(cause_text(parts...)).
template <typename... Parts>
void set_cause_of(const Parts&... parts) {
    set_cause(cause_text(parts...));
}

// Keeps this thread's cause across a trace callback: what the calls the callback makes leave
// there must not pass for the cause of the call the callback runs inside.
class KeptCause {
public:
    KeptCause();
    ~KeptCause();
    KeptCause(const KeptCause&) = delete;
    KeptCause& operator=(const KeptCause&) = delete;

private:
    std::string text_;
    unsigned serial_;
};

// For the wrappers of exported functions: a mark taken as the call starts, and the end of
// the call. A failing result (0, negative, or a reader status from 1001 up) that no
// set_cause explained since the mark gets the generic text of ZRResultText(result).
unsigned cause_mark() noexcept;
void finish_cause(unsigned mark, int result) noexcept;

}  // namespace zr::core
