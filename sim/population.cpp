#include "population.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zr::sim {
namespace {

constexpr std::size_t kEpcMax = 62;
constexpr std::size_t kTidMax = 32;
constexpr std::size_t kUserMax = 512;

}  // namespace

Tag default_tag(std::size_t index) {
    const auto defaults = ReaderModel::default_tags();
    if (index < defaults.size()) return defaults[index];
    Tag t = defaults.front();
    const auto n = static_cast<std::uint8_t>(index + 1);
    t.id.back() = n;
    t.epc.back() = n;
    t.tid.back() = n;
    for (std::size_t k = 0; k < t.user.size(); ++k) t.user[k] = static_cast<std::uint8_t>(n * 16 + k);
    return t;
}

bool parse_tag(const std::string& text, std::size_t index, Tag& out, std::string& error) {
    Tag t = default_tag(index);
    std::istringstream words(text);
    std::string word;
    auto fail = [&](const std::string& why) {
        error = "tag " + std::to_string(index + 1) + ", '" + word + "': " + why;
        return false;
    };
    static const char* const kKeys[] = {"id", "epc", "tid", "user", "visit", "destroy", "eas", "killed"};
    while (words >> word) {
        auto eq = word.find('=');
        if (eq == std::string::npos) return fail("expected KEY=VALUE (keys: id, epc, tid, user, visit, destroy, eas, killed)");
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (std::find(std::begin(kKeys), std::end(kKeys), key) == std::end(kKeys))
            return fail("unknown key '" + key + "' (keys: id, epc, tid, user, visit, destroy, eas, killed)");
        Bytes b;
        if (key == "eas" || key == "killed") {
            if (value != "0" && value != "1") return fail(key + " is 0 or 1");
            (key == "eas" ? t.eas : t.killed) = value == "1";
            continue;
        }
        if (value.empty()) return fail(key + " has no value");
        if (!parse_hex(value, b)) return fail(key + " is not hex (two hex digits a byte, ':' '-' ',' between bytes allowed)");
        if (key == "id") {
            if (b.size() != t.id.size()) return fail("an identifier has 8 bytes, not " + std::to_string(b.size()));
            std::copy(b.begin(), b.end(), t.id.begin());
        } else if (key == "epc") {
            if (b.empty() || b.size() % 2 || b.size() > kEpcMax)
                return fail("an EPC is 1 to 31 words (2 to 62 bytes, an even number), not " + std::to_string(b.size()) +
                            " bytes");
            t.epc = b;
        } else if (key == "tid") {
            if (b.empty() || b.size() > kTidMax) return fail("a TID has 1 to 32 bytes, not " + std::to_string(b.size()));
            t.tid = b;
        } else if (key == "user") {
            if (b.size() % 2 || b.size() > kUserMax)
                return fail("user memory is 0 to 256 words (an even number of bytes), not " + std::to_string(b.size()) +
                            " bytes");
            t.user = b;
        } else if (key == "visit" || key == "destroy") {
            if (b.size() != 4) return fail("a password has 4 bytes, not " + std::to_string(b.size()));
            std::copy(b.begin(), b.end(), (key == "visit" ? t.visit_password : t.destroy_password).begin());
        }
    }
    out = t;
    return true;
}

bool parse_population(const std::string& text, std::vector<Tag>& out, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    std::vector<Tag> tags;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        Tag t;
        if (!parse_tag(line, out.size() + tags.size(), t, error)) {
            error = "line " + std::to_string(number) + ": " + error;
            return false;
        }
        tags.push_back(t);
    }
    out.insert(out.end(), tags.begin(), tags.end());
    return true;
}

bool load_population(const std::string& path, std::vector<Tag>& out, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (!parse_population(text.str(), out, error)) {
        error = path + ", " + error;
        return false;
    }
    return true;
}

}  // namespace zr::sim
