#include "units/inventory.h"

#include <algorithm>

namespace zr::sim {
namespace {

constexpr std::uint8_t kAckOk = 0x00;
constexpr std::uint8_t kAckRefused = 0x3F;
constexpr std::size_t kListenEpcBytes = 12;

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes id_of(const Tag& t) { return Bytes(t.id.begin(), t.id.end()); }

using TagData = std::function<std::optional<Bytes>(const Tag&)>;

}  // namespace

InventoryUnit::InventoryUnit(ReaderModel& m) {
    // An inventory's answer: one report per tag in the field that `data` accepts, else one
    // error frame (no_tag when the field is empty, `refused` when tags are there).
    auto inventory = [&m](std::uint8_t code, std::uint8_t antenna, const TagData& data,
                          Error refused = Error::no_tag) {
        Replies out;
        auto field = m.tags_in_field();
        std::erase_if(field, [&](const Tag* t) { return !t->answers_on(antenna); });
        for (const auto* t : field)
            if (auto d = data(*t)) out.push_back(ReaderModel::ok(code, *d));
        if (out.empty())
            out.push_back(reply_payload(code, m.status(field.empty() ? Error::no_tag : refused), {antenna, 0}));
        return out;
    };
    auto bad_request = [&m](std::uint8_t code, const Request& r) {
        return Replies{reply_payload(code, m.status(Error::bad_request), {r[0], 0})};
    };

    m.on(code::identify, [=](const Request& r) {
        if (r.size() < 2) return bad_request(code::identify, r);
        return inventory(code::identify, r[0], [&](const Tag& t) -> std::optional<Bytes> {
            return join({{r[0]}, id_of(t)});
        });
    });
    m.on(code::direct_read, [=](const Request& r) {
        if (r.size() < 2) return bad_request(code::direct_read, r);
        return inventory(code::direct_read, r[0], [&](const Tag& t) -> std::optional<Bytes> {
            return join({{r[0]}, t.epc});
        });
    });
    m.on(code::long_identify, [=](const Request& r) {
        if (r.size() < 3) return bad_request(code::long_identify, r);
        return inventory(code::long_identify, r[0], [&](const Tag& t) -> std::optional<Bytes> {
            return join({{r[0]}, id_of(t), t.epc});
        });
    });
    m.on(code::user_identify, [=](const Request& r) {
        // antenna, option1, scan tries, repeat, timeout, address, length, match (8), option2..5
        if (r.size() < 19) return bad_request(code::user_identify, r);
        const std::size_t address = r[5], n = std::min<std::size_t>(r[6], 8);
        const Bytes match(r.params.begin() + 7, r.params.begin() + 7 + static_cast<std::ptrdiff_t>(n));
        return inventory(code::user_identify, r[0], [&](const Tag& t) -> std::optional<Bytes> {
            if (n > 0 && (address + n > t.epc.size() ||
                          !std::equal(match.begin(), match.end(), t.epc.begin() + static_cast<std::ptrdiff_t>(address))))
                return std::nullopt;
            return join({{r[0]}, t.epc});
        });
    });
    m.on(code::identify_epc, [=](const Request& r) {
        if (r.size() < 3) return bad_request(code::identify_epc, r);
        return inventory(code::identify_epc, r[0], [&](const Tag& t) -> std::optional<Bytes> { return t.epc; });
    });
    m.on(code::identify_tid, [=](const Request& r) {
        if (r.size() < 7) return bad_request(code::identify_tid, r);
        const std::uint8_t* password = r.params.data() + 3;
        return inventory(
            code::identify_tid, r[0],
            [&](const Tag& t) -> std::optional<Bytes> {
                if (!ReaderModel::visit_password_ok(t, password)) return std::nullopt;
                return t.tid;
            },
            Error::wrong_password);
    });

    // Password-authorised word read: the first tag in the field.
    m.on(code::read_words, [&m](const Request& r) -> Replies {
        if (r.size() < 7) return {m.error(code::read_words, Error::bad_request)};
        Tag* t = m.addressed_tag();
        if (!t) return {m.error(code::read_words, Error::no_tag)};
        if (!ReaderModel::visit_password_ok(*t, r.params.data() + 1))
            return {m.error(code::read_words, Error::wrong_password)};
        const std::size_t address = r[5], words = r[6];
        if ((address + words) * 2 > t->user.size()) return {m.error(code::read_words, Error::out_of_range)};
        Bytes data{static_cast<std::uint8_t>(words)};
        data.insert(data.end(), t->user.begin() + static_cast<std::ptrdiff_t>(address * 2),
                    t->user.begin() + static_cast<std::ptrdiff_t>((address + words) * 2));
        return {ReaderModel::ok(code::read_words, data)};
    });

    m.on(code::config_eas_flag, [&m](const Request& r) -> Replies {
        if (r.size() < 6) return {m.error(code::config_eas_flag, Error::bad_request)};
        Tag* t = m.addressed_tag();
        if (!t) return {m.error(code::config_eas_flag, Error::no_tag)};
        if (!ReaderModel::visit_password_ok(*t, r.params.data() + 1))
            return {m.error(code::config_eas_flag, Error::wrong_password)};
        t->eas = r[5] != 0;
        return {ReaderModel::ok(code::config_eas_flag)};
    });
    m.on(code::eas_alarm, [this, &m](const Request& r) -> Replies {
        if (r.size() < 2 || r[1] > 1) return {m.error(code::eas_alarm, Error::bad_request)};
        if (r[1] == 1) {
            alarm_on = true;
            alarm_antenna = r[0];
            next_alarm_.reset();  // the first alarms go out at once
            return {};
        }
        alarm_on = false;
        return {ReaderModel::ok(code::eas_alarm)};
    });

    m.on(code::listen, [this](const Request& r) -> Replies {
        last_ack = r.params;
        const bool matches = r.size() == 10 && last_listen.size() >= 13 &&
                             std::equal(last_listen.begin() + 3, last_listen.begin() + 11, r.params.begin() + 1) &&
                             r[9] == last_listen[12];
        if (r[0] == kAckOk && matches) ++acks_ok;
        else if (r[0] == kAckRefused && r.size() == 10) ++acks_refused;
        else ++acks_wrong;
        return {};
    });

    m.on(code::data_return, [this, &m](const Request& r) -> Replies {
        if (r.size() < 2 || r[1] > 4)
            return {reply_payload(code::data_return, m.status(Error::bad_request), {r[0], r[1]})};
        data_return_option = r[1];
        return {ReaderModel::ok(code::data_return, {r[0], r[1]})};
    });
    m.on(code::code_sending, [this](const Request& r) -> Replies {
        ++code_sendings;
        last_code = r.params;
        const auto n = r.size();
        return {ReaderModel::ok(code::code_sending,
                                {static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n & 0xFF)})};
    });
}

Bytes InventoryUnit::listen_frame(ReaderModel& m) {
    Bytes data(23, 0);
    auto field = m.tags_in_field();
    if (!field.empty()) {
        const Tag& t = *field.front();
        std::copy(t.id.begin(), t.id.end(), data.begin());
        std::copy_n(t.epc.begin(), std::min(t.epc.size(), kListenEpcBytes), data.begin() + 8);
    }
    ++listen_sequence_;
    data[20] = static_cast<std::uint8_t>(listen_sequence_ >> 8);
    data[21] = static_cast<std::uint8_t>(listen_sequence_ & 0xFF);
    data[22] = 0x01;
    // No status byte: the data start right after the code.
    Bytes frame{0x00, static_cast<std::uint8_t>(data.size() + 1), code::listen};
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

void InventoryUnit::push_listen_frame(ReaderModel& m) {
    last_listen = listen_frame(m);
    m.push(last_listen);
}

std::vector<Bytes> InventoryUnit::unsolicited(ReaderModel& m, std::chrono::milliseconds now) {
    std::vector<Bytes> out;
    if (listen_period_ms > 0 && (!next_listen_ || now >= *next_listen_)) {
        last_listen = listen_frame(m);
        out.push_back(last_listen);
        next_listen_ = now + std::chrono::milliseconds(listen_period_ms);
    }
    if (alarm_on && (!next_alarm_ || now >= *next_alarm_)) {
        for (const auto* t : m.tags_in_field()) {
            if (!t->eas) continue;
            out.push_back(ReaderModel::ok(code::eas_alarm, join({{alarm_antenna}, t->epc})));
            ++alarms_sent;
        }
        next_alarm_ = now + std::chrono::milliseconds(std::max(1, alarm_period_ms));
    }
    return out;
}

std::unique_ptr<Unit> make_inventory_unit(ReaderModel& m) { return std::make_unique<InventoryUnit>(m); }

}  // namespace zr::sim
