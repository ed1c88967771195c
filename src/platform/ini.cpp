#include "platform/ini.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace zr::platform::ini {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// The mark is not part of the first line, which would otherwise be no section header.
std::string_view without_bom(std::string_view text) {
    if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
    return text;
}

std::string_view trim(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

struct Line {
    std::string_view body;     // without the line end
    std::string_view ending;   // "\r\n", "\n" or "" for the last line
};

std::vector<Line> split_lines(std::string_view text) {
    std::vector<Line> lines;
    while (!text.empty()) {
        auto nl = text.find('\n');
        if (nl == std::string_view::npos) {
            lines.push_back({text, {}});
            break;
        }
        std::size_t body_end = (nl > 0 && text[nl - 1] == '\r') ? nl - 1 : nl;
        lines.push_back({text.substr(0, body_end), text.substr(body_end, nl + 1 - body_end)});
        text.remove_prefix(nl + 1);
    }
    return lines;
}

// "[name]" -> name; nothing for other lines.
std::optional<std::string_view> section_name(std::string_view body) {
    auto t = trim(body);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    auto close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(t.substr(1, close - 1));
}

struct Entry {
    std::string_view key;
    std::string_view value;
};

std::optional<Entry> entry(std::string_view body) {
    auto t = trim(body);
    if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
    auto eq = t.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return Entry{trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

// The note that ends `body`, blanks before it included: from the first ';' that opens the
// value or follows a blank, as people write one beside a value ("" when none). A ';' inside
// a word goes with the old value it is part of.
std::string_view trailing_comment(std::string_view body) {
    const auto eq = body.find('=');
    if (eq == std::string_view::npos) return {};
    const auto value = body.substr(eq + 1);
    const auto start = value.find_first_not_of(" \t");
    for (auto at = value.find(';'); at != std::string_view::npos; at = value.find(';', at + 1)) {
        if (at != start && value[at - 1] != ' ' && value[at - 1] != '\t') continue;
        auto from = at;
        while (from > start && (value[from - 1] == ' ' || value[from - 1] == '\t')) --from;
        return value.substr(from);
    }
    return {};
}

std::string unquote(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    return std::string(v);
}

}  // namespace

std::optional<std::string> get(std::string_view text, std::string_view section, std::string_view key) {
    bool inside = false;
    for (const auto& line : split_lines(without_bom(text))) {
        if (auto name = section_name(line.body)) {
            inside = same_name(*name, trim(section));
            continue;
        }
        if (!inside) continue;
        if (auto e = entry(line.body); e && same_name(e->key, trim(key))) return unquote(e->value);
    }
    return std::nullopt;
}

std::string set(std::string_view text, std::string_view section, std::string_view key,
                std::string_view value) {
    const bool bom = text.starts_with(kUtf8Bom);
    text = without_bom(text);
    auto lines = split_lines(text);
    std::string_view eol = "\n";
    for (const auto& l : lines)
        if (!l.ending.empty()) {
            eol = l.ending;
            break;
        }
    const std::string new_entry = std::string(trim(key)) + "=" + std::string(value);

    // Locate the section and, inside it, the key and the last line that holds anything.
    std::optional<std::size_t> section_at, key_at, last_content;
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (auto name = section_name(lines[i].body)) {
            if (inside) break;  // the first matching section is the one that counts
            inside = same_name(*name, trim(section));
            if (inside) section_at = last_content = i;
            continue;
        }
        if (!inside) continue;
        if (!trim(lines[i].body).empty()) last_content = i;
        if (auto e = entry(lines[i].body); e && same_name(e->key, trim(key)) && !key_at) key_at = i;
    }

    std::string out;
    out.reserve(text.size() + new_entry.size() + section.size() + 8 + kUtf8Bom.size());
    if (bom) out.append(kUtf8Bom);
    auto emit = [&](std::string_view body, std::string_view ending) {
        out.append(body);
        out.append(ending);
    };
    if (!section_at) {
        for (const auto& l : lines) emit(l.body, l.ending);
        if (!lines.empty() && lines.back().ending.empty() && !lines.back().body.empty()) out.append(eol);
        out.append("[").append(trim(section)).append("]").append(eol);
        out.append(new_entry).append(eol);
        return out;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (key_at && i == *key_at) {
            // A note beside the old value stays beside the new one.
            emit(new_entry + std::string(trailing_comment(lines[i].body)), lines[i].ending);
            continue;
        }
        emit(lines[i].body, lines[i].ending);
        if (!key_at && i == *last_content) {
            if (lines[i].ending.empty()) out.append(eol);
            out.append(new_entry).append(eol);
        }
    }
    return out;
}

bool has_section(std::string_view text, std::string_view section) {
    for (const auto& line : split_lines(without_bom(text)))
        if (auto name = section_name(line.body); name && same_name(*name, trim(section))) return true;
    return false;
}

std::vector<std::string> keys(std::string_view text, std::string_view section) {
    std::vector<std::string> out;
    bool inside = false;
    for (const auto& line : split_lines(without_bom(text))) {
        if (auto name = section_name(line.body)) {
            inside = same_name(*name, trim(section));
            continue;
        }
        if (auto e = entry(line.body); inside && e) out.emplace_back(e->key);
    }
    return out;
}

bool eight_bit(std::string_view text) {
    return !text.starts_with("\xFF\xFE") && !text.starts_with("\xFE\xFF") &&
           text.find('\0') == std::string_view::npos;
}

bool editable(std::string_view text) { return eight_bit(text); }

}  // namespace zr::platform::ini
