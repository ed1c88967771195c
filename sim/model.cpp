#include "model.h"

#include <algorithm>
#include <stdexcept>

namespace zr::sim {

ReaderModel::ReaderModel() : tags(default_tags()) {
    units_.push_back(make_core_unit(*this));
    units_.push_back(make_inventory_unit(*this));
    units_.push_back(make_tag_memory_unit(*this));
    units_.push_back(make_config_unit(*this));
}

ReaderModel::~ReaderModel() = default;

std::vector<Tag> ReaderModel::default_tags() {
    std::vector<Tag> t(3);
    for (std::size_t i = 0; i < t.size(); ++i) {
        auto n = static_cast<std::uint8_t>(i + 1);
        t[i].id = {0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, n};
        t[i].epc = {0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0x00, 0x00, 0x00, n};
        t[i].tid = {0xE2, 0x80, 0x11, 0x05, 0x20, 0x00, 0x70, n};
        t[i].user.assign(64, 0);
        for (std::size_t k = 0; k < t[i].user.size(); ++k) t[i].user[k] = static_cast<std::uint8_t>(n * 16 + k);
    }
    return t;
}

std::uint8_t ReaderModel::status(Error e) const { return protocol::status_byte(e, device_class); }

Replies ReaderModel::handle(const Bytes& payload) {
    if (payload.size() < 3) return {};
    Request r{payload[2], Bytes(payload.begin() + 3, payload.end())};
    auto it = handlers_.find(r.code);
    if (it == handlers_.end()) return {error(r.code, Error::unknown_command)};
    return it->second(r);
}

Replies ReaderModel::unsolicited(std::chrono::milliseconds now) {
    Replies out(pushed_.begin(), pushed_.end());
    pushed_.clear();
    for (auto& u : units_) {
        auto more = u->unsolicited(*this, now);
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

std::vector<Tag*> ReaderModel::tags_in_field() {
    std::vector<Tag*> out;
    for (auto& t : tags) {
        if (t.killed) continue;
        if (selection.active) {
            const Bytes key = selection.by_epc ? t.epc : Bytes(t.id.begin(), t.id.end());
            if (selection.match.size() > key.size() ||
                !std::equal(selection.match.begin(), selection.match.end(), key.begin()))
                continue;
        }
        out.push_back(&t);
    }
    return out;
}

Tag* ReaderModel::find_by_id(const std::uint8_t* id8) {
    for (auto* t : tags_in_field())
        if (std::equal(t->id.begin(), t->id.end(), id8)) return t;
    return nullptr;
}

Tag* ReaderModel::addressed_tag() {
    auto field = tags_in_field();
    return field.empty() ? nullptr : field.front();
}

bool ReaderModel::visit_password_ok(const Tag& t, const std::uint8_t* password) {
    const bool open = std::all_of(t.visit_password.begin(), t.visit_password.end(), [](auto b) { return b == 0; });
    return open || std::equal(t.visit_password.begin(), t.visit_password.end(), password);
}

}  // namespace zr::sim
