// Profile-string reading and editing on the text of an INI file, with the rules of the
// Windows private-profile functions: names compared without case, blanks around names and
// values trimmed, CRLF or LF, a value wrapped in double quotes loses them, and an edit
// keeps every other line, comment and the order of the file. A UTF-8 byte-order mark at the
// start is read past and kept.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zr::platform::ini {

// The value of `key` in `section`, or nothing when either is missing.
std::optional<std::string> get(std::string_view text, std::string_view section, std::string_view key);

// `text` with `key` in `section` set to `value`; the section and key are added when missing.
// A comment after the old value (a ';' opening the value or after a blank, with the blanks
// before it) is kept after the new one.
std::string set(std::string_view text, std::string_view section, std::string_view key,
                std::string_view value);

// Whether `section` is there, and the names of its keys in file order.
bool has_section(std::string_view text, std::string_view section);
std::vector<std::string> keys(std::string_view text, std::string_view section);

// false for text in no 8-bit encoding: UTF-16 (with a byte-order mark or without, when its
// NUL bytes give it away) or other bytes with NULs among them.
bool eight_bit(std::string_view text);

// false for text that set() would corrupt: any that is not eight_bit().
bool editable(std::string_view text);

}  // namespace zr::platform::ini
