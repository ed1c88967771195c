#include "verb.h"

#include "protocol/hex.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <stdexcept>

#include "zr.h"

namespace zrtool {

std::atomic<bool> interrupted{false};
std::atomic<bool> catch_interrupts{false};

namespace {

// Function-local, so that groups registering from other files' static initialisers find it.
std::vector<const VerbGroup*>& registry() {
    static std::vector<const VerbGroup*> groups;
    return groups;
}

}  // namespace

VerbGroup::VerbGroup(int order_, const char* title_, std::vector<Verb> verbs_)
    : order(order_), title(title_), verbs(std::move(verbs_)) {
    registry().push_back(this);
}

std::vector<const VerbGroup*> verb_groups() {
    auto groups = registry();
    std::stable_sort(groups.begin(), groups.end(), [](auto* a, auto* b) { return a->order < b->order; });
    return groups;
}

const Verb* find_verb(const std::string& name) {
    for (auto* g : registry())
        for (const auto& v : g->verbs)
            if (name == v.name) return &v;
    return nullptr;
}

std::function<void(int, zr::sim::Simulator&)> started_by(std::function<void(int)> start) {
    return [start](int handle, zr::sim::Simulator&) {
        start(handle);
        // The simulator answers within a few milliseconds on either link; a report call
        // takes only what has arrived.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    };
}

bool succeeded(int result, Kind kind) { return kind == Kind::send_only ? result > 0 : result == ZR_OK; }

std::string meaning(int result, Kind kind) {
    if (kind == Kind::send_only && result > 0) return std::to_string(result) + (result == 1 ? " byte sent" : " bytes sent");
    if (kind == Kind::report && result == 0) return "no report waiting";
    return ZRResultText(result);
}

std::string describe(int result, Kind kind) {
    if (kind == Kind::send_only && result > 0) return meaning(result, kind);
    return std::to_string(result) + " " + meaning(result, kind);
}

void put_result(Json& j, int result, Kind kind) {
    j.set("result", result);
    j.set("text", meaning(result, kind));
    j.set("success", succeeded(result, kind));
}

std::string hex(const std::uint8_t* p, std::size_t n) { return zr::protocol::hex(p, n); }

std::string hex_trimmed(const std::uint8_t* p, std::size_t n) {
    while (n > 0 && p[n - 1] == 0) --n;
    return hex(p, n);
}

bool Call::given(const char* name) const {
    auto it = values_.find(name);
    return it != values_.end() && it->second.given;
}

unsigned char* Call::buffer() {
    buffers_.push_back(std::make_unique<std::uint8_t[]>(256));  // value-initialised: zeroed
    return buffers_.back().get();
}

const Call::Value& Call::value(const char* name, Type type) const {
    auto arg = std::find_if(verb_.args.begin(), verb_.args.end(), [&](const Arg& a) { return std::string(a.name) == name; });
    auto it = values_.find(name);
    if (arg == verb_.args.end() || arg->type != type || it == values_.end())
        throw std::logic_error(std::string("verb ") + verb_.name + " reads an argument it does not declare: " + name);
    return it->second;
}

}  // namespace zrtool
