#include "field.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "population.h"

namespace zr::sim {
namespace {

bool decimal(const std::string& text, long max, long& out) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    out = std::stol(text);
    return out <= max;
}

std::string compact_hex(const Bytes& b) {
    std::string h = hex(b);
    std::erase(h, ' ');
    return h;
}

std::vector<Tag>::iterator find_epc(std::vector<Tag>& tags, const Bytes& epc) {
    return std::find_if(tags.begin(), tags.end(), [&](const Tag& t) { return t.epc == epc; });
}

}  // namespace

bool parse_field_event(const std::string& text, FieldEvent& out, std::string& error) {
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string word; in >> word;) w.push_back(word);
    if (w.empty()) return error = "expected add, remove or move", false;
    FieldEvent e;
    const std::string& verb = w[0];
    if (verb == "add") e.kind = FieldEvent::add;
    else if (verb == "remove") e.kind = FieldEvent::remove;
    else if (verb == "move") e.kind = FieldEvent::move;
    else return error = "unknown event '" + verb + "' (add, remove or move)", false;
    if (w.size() < 2) return error = verb + " needs an EPC", false;
    if (!parse_hex(w[1], e.epc) || e.epc.empty() || e.epc.size() % 2 || e.epc.size() > 62)
        return error = "EPC '" + w[1] + "' is not 1 to 31 words of hex", false;
    auto antenna = [&](const std::string& v) {
        long n = 0;
        if (!decimal(v, 255, n)) return error = "antenna '" + v + "' is not 0 to 255", false;
        e.antenna = static_cast<std::uint8_t>(n);
        return true;
    };
    if (e.kind == FieldEvent::remove && w.size() > 2) return error = "remove takes only the EPC", false;
    if (e.kind == FieldEvent::move) {
        if (w.size() != 3) return error = "move takes the EPC and an antenna", false;
        if (!antenna(w[2])) return false;
    }
    if (e.kind == FieldEvent::add) {
        for (std::size_t i = 2; i < w.size(); i += 2) {
            const std::string& key = w[i];
            if (key != "antenna" && key != "tid" && key != "user")
                return error = "unknown word '" + key + "' (antenna N, tid HEX, user HEX)", false;
            if (i + 1 >= w.size()) return error = key + " needs a value", false;
            const std::string& v = w[i + 1];
            Bytes b;
            if (key == "antenna") {
                if (!antenna(v)) return false;
            } else if (!parse_hex(v, b)) {
                return error = key + " '" + v + "' is not hex", false;
            } else if (key == "tid") {
                if (b.empty() || b.size() > 32) return error = "a TID has 1 to 32 bytes", false;
                e.tid = b;
            } else {
                if (b.size() % 2 || b.size() > 512) return error = "user memory is 0 to 256 words", false;
                e.user = b;
            }
        }
    }
    out = e;
    return true;
}

bool apply_field_event(ReaderModel& m, const FieldEvent& e, std::string& error) {
    auto it = find_epc(m.tags, e.epc);
    if (e.kind == FieldEvent::add) {
        if (it != m.tags.end()) return error = "EPC " + compact_hex(e.epc) + " is already in the field", false;
        // The first default pattern whose identifier no tag has: identifier-addressed commands
        // must find the newcomer, and nobody else under its identifier.
        Tag t;
        for (std::size_t n = m.tags.size();; ++n) {
            t = default_tag(n);
            if (std::none_of(m.tags.begin(), m.tags.end(), [&](const Tag& o) { return o.id == t.id; })) break;
        }
        t.epc = e.epc;
        t.antenna = e.antenna;
        if (e.tid) t.tid = *e.tid;
        if (e.user) t.user = *e.user;
        m.tags.push_back(t);
        return true;
    }
    if (it == m.tags.end()) return error = "EPC " + compact_hex(e.epc) + " is not in the field", false;
    if (e.kind == FieldEvent::remove) m.tags.erase(it);
    else it->antenna = e.antenna;
    return true;
}

std::vector<std::string> describe_field(const ReaderModel& m) {
    std::vector<std::string> out;
    for (const auto& t : m.tags)
        out.push_back(compact_hex(t.epc) + (t.antenna ? " antenna " + std::to_string(t.antenna) : "") +
                      (t.killed ? " killed" : ""));
    return out;
}

bool parse_scenario(const std::string& text, Scenario& out, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    Scenario s;
    int repeat_line = 0;
    for (int number = 1; std::getline(lines, line); ++number) {
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        };
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        std::istringstream words(line);
        std::string first, rest;
        if (!(words >> first)) continue;
        std::getline(words, rest);
        long ms = 0;
        if (first == "repeat") {
            if (s.repeat) return fail("a second repeat line");
            std::string value, more;
            std::istringstream r(rest);
            r >> value >> more;
            if (!decimal(value, 86400000, ms) || ms < 1 || !more.empty())
                return fail("repeat takes a period in milliseconds, 1 to 86400000");
            s.repeat = std::chrono::milliseconds(ms);
            repeat_line = number;
            continue;
        }
        if (!decimal(first, 86400000, ms))
            return fail("expected TIME_MS (0 to 86400000) and an event, or repeat MS; not '" + first + "'");
        FieldEvent e;
        if (!parse_field_event(rest, e, error)) return fail(error);
        s.events.push_back({std::chrono::milliseconds(ms), e, number});
    }
    std::stable_sort(s.events.begin(), s.events.end(), [](const auto& a, const auto& b) { return a.at < b.at; });
    if (s.repeat && !s.events.empty() && s.events.back().at >= *s.repeat) {
        error = "line " + std::to_string(s.events.back().line) + ": at " + std::to_string(s.events.back().at.count()) +
                " ms, not before the repeat period of line " + std::to_string(repeat_line);
        return false;
    }
    out = std::move(s);
    return true;
}

bool load_scenario(const std::string& path, Scenario& out, std::string& error) {
    std::ifstream in(path);
    if (!in) return error = "cannot read " + path + ": " + std::strerror(errno), false;
    std::stringstream text;
    text << in.rdbuf();
    if (!parse_scenario(text.str(), out, error)) return error = path + ", " + error, false;
    return true;
}

std::vector<Scenario::Timed> ScenarioPlayer::due(std::chrono::milliseconds now) {
    std::vector<Scenario::Timed> out;
    for (;;) {
        while (next_ < s_.events.size() && base_ + s_.events[next_].at <= now) out.push_back(s_.events[next_++]);
        if (next_ < s_.events.size() || !s_.repeat || s_.events.empty() || now < base_ + *s_.repeat) break;
        base_ += *s_.repeat;
        next_ = 0;
    }
    return out;
}

}  // namespace zr::sim
