#include "units/tag_memory.h"

#include <algorithm>

namespace zr::sim {
namespace {

constexpr std::size_t kIdSize = 8;
constexpr std::size_t kPasswordSize = 4;
constexpr std::uint8_t kAllRegionBits = 0x1F;

bool all_zero(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

}  // namespace

bool TagMemoryUnit::user_locked(const Tag& t, std::size_t begin, std::size_t end) {
    if (begin == end) return false;
    if (region_locked(t, kUser)) return true;
    return std::any_of(t.locked_user.begin(), t.locked_user.end(),
                       [&](const auto& r) { return begin < r.second && r.first < end; });
}

TagMemoryUnit::TagMemoryUnit(ReaderModel& m) {
    // ---- Identifier-addressed: antenna, id (8), address, count [, data] ----
    m.on(code::read_user_data, [&m](const Request& r) -> Replies {
        if (r.size() != 3 + kIdSize) return {m.error(r.code, Error::bad_request)};
        Tag* t = m.find_by_id(&r.params[1]);
        if (!t) return {m.error(r.code, Error::no_tag)};
        const std::size_t at = r[9], n = r[10];
        if (at + n > t->user.size()) return {m.error(r.code, Error::out_of_range)};
        Bytes data(1 + n);
        data[0] = static_cast<std::uint8_t>(n);
        std::copy_n(t->user.begin() + static_cast<std::ptrdiff_t>(at), n, data.begin() + 1);
        return {ReaderModel::ok(r.code, data)};
    });

    m.on(code::write_user_data, [&m](const Request& r) -> Replies {
        if (r.size() < 3 + kIdSize || r.size() != 3 + kIdSize + r[10]) return {m.error(r.code, Error::bad_request)};
        Tag* t = m.find_by_id(&r.params[1]);
        if (!t) return {m.error(r.code, Error::no_tag)};
        const std::size_t at = r[9], n = r[10];
        if (at + n > t->user.size()) return {m.error(r.code, Error::out_of_range)};
        if (user_locked(*t, at, at + n)) return {m.error(r.code, Error::locked)};
        std::copy_n(r.params.begin() + 11, n, t->user.begin() + static_cast<std::ptrdiff_t>(at));
        return {ReaderModel::ok(r.code)};
    });

    m.on(code::lock_user_data, [&m](const Request& r) -> Replies {
        if (r.size() != 3 + kIdSize) return {m.error(r.code, Error::bad_request)};
        Tag* t = m.find_by_id(&r.params[1]);
        if (!t) return {m.error(r.code, Error::no_tag)};
        const std::size_t at = r[9], n = r[10];
        if (at + n > t->user.size()) return {m.error(r.code, Error::out_of_range)};
        if (n > 0) t->locked_user.emplace_back(at, at + n);
        return {ReaderModel::ok(r.code)};
    });

    // ---- Password-authorised: antenna, password (4), ... ----
    // The tag the command acts on once its shape, tag and password are settled; or the reply.
    struct Authorised {
        Tag* tag = nullptr;
        Replies refusal;
    };
    auto authorise = [&m](const Request& r, bool shape_ok) -> Authorised {
        if (!shape_ok) return {nullptr, {m.error(r.code, Error::bad_request)}};
        Tag* t = m.addressed_tag();
        if (!t) return {nullptr, {m.error(r.code, Error::no_tag)}};
        if (!ReaderModel::visit_password_ok(*t, &r.params[1])) return {nullptr, {m.error(r.code, Error::wrong_password)}};
        return {t, {}};
    };

    // 0x83: antenna, password, w, EPC (2w)
    m.on(code::set_epc, [&m, authorise](const Request& r) -> Replies {
        const std::size_t w = r[5];
        auto a = authorise(r, r.size() >= 6 && w > 0 && r.size() == 6 + 2 * w);
        if (!a.tag) return a.refusal;
        if (region_locked(*a.tag, kEpc)) return {m.error(r.code, Error::locked)};
        a.tag->epc.assign(r.params.begin() + 6, r.params.end());
        return {ReaderModel::ok(r.code)};
    });

    // 0x85: antenna, password, word address, w, data (2w)
    m.on(code::set_use_data, [&m, authorise](const Request& r) -> Replies {
        const std::size_t w = r[6];
        auto a = authorise(r, r.size() >= 7 && r.size() == 7 + 2 * w);
        if (!a.tag) return a.refusal;
        const std::size_t at = 2 * std::size_t{r[5]}, n = 2 * w;
        if (at + n > a.tag->user.size()) return {m.error(r.code, Error::out_of_range)};
        if (user_locked(*a.tag, at, at + n)) return {m.error(r.code, Error::locked)};
        std::copy_n(r.params.begin() + 7, n, a.tag->user.begin() + static_cast<std::ptrdiff_t>(at));
        return {ReaderModel::ok(r.code)};
    });

    // 0x88 / 0x89: antenna, password, new password
    auto set_password = [&m, authorise](Region region, std::array<std::uint8_t, 4> Tag::*field) {
        return [&m, authorise, region, field](const Request& r) -> Replies {
            auto a = authorise(r, r.size() == 1 + 2 * kPasswordSize);
            if (!a.tag) return a.refusal;
            if (region_locked(*a.tag, region)) return {m.error(r.code, Error::locked)};
            std::copy_n(r.params.begin() + 5, kPasswordSize, (a.tag->*field).begin());
            return {ReaderModel::ok(r.code)};
        };
    };
    m.on(code::set_visit_pwd, set_password(kVisitPassword, &Tag::visit_password));
    m.on(code::set_destroy_pwd, set_password(kDestroyPassword, &Tag::destroy_password));

    // 0x8A: antenna, password, mode, region
    m.on(code::set_data_locked, [authorise](const Request& r) -> Replies {
        auto a = authorise(r, r.size() == 7 && r[5] <= 1 && r[6] <= kAllRegions);
        if (!a.tag) return a.refusal;
        const std::uint8_t bits = r[6] == kAllRegions ? kAllRegionBits : static_cast<std::uint8_t>(1u << r[6]);
        if (r[5] == 1)
            a.tag->locked_regions |= bits;
        else
            a.tag->locked_regions &= static_cast<std::uint8_t>(~bits);
        return {ReaderModel::ok(r.code)};
    });

    // 0x8B: antenna, destroy password, data words (ignored)
    m.on(code::destroy_tag, [&m](const Request& r) -> Replies {
        if (r.size() < 1 + kPasswordSize || (r.size() - 1 - kPasswordSize) % 2 != 0)
            return {m.error(r.code, Error::bad_request)};
        Tag* t = m.addressed_tag();
        if (!t) return {m.error(r.code, Error::no_tag)};
        const auto& kill = t->destroy_password;
        if (all_zero(kill.data(), kill.size()) || !std::equal(kill.begin(), kill.end(), r.params.begin() + 1))
            return {m.error(r.code, Error::wrong_password)};
        t->killed = true;
        return {ReaderModel::ok(r.code)};
    });

    // ---- Selection: antenna, option1, option2, match data ----
    auto select = [&m](bool by_epc) {
        return [&m, by_epc](const Request& r) -> Replies {
            const std::size_t sent = r.size() < 3 ? 0 : r.size() - 3;
            if (r.size() < 3 || (!by_epc && sent != kIdSize) || r[1] > 1 || r[2] > sent)
                return {m.error(r.code, Error::bad_request)};
            if (r[1] == 0) {
                m.selection = {};
                return {ReaderModel::ok(r.code)};
            }
            const std::size_t n = r[2] == 0 ? sent : r[2];
            const auto before = m.selection;
            m.selection = {true, by_epc, Bytes(r.params.begin() + 3, r.params.begin() + 3 + static_cast<std::ptrdiff_t>(n))};
            if (m.tags_in_field().empty()) {
                m.selection = before;
                return {m.error(r.code, Error::no_tag)};
            }
            return {ReaderModel::ok(r.code)};
        };
    };
    m.on(code::select_tag, select(false));
    m.on(code::select_tag_epc, select(true));
}

std::unique_ptr<Unit> make_tag_memory_unit(ReaderModel& m) { return std::make_unique<TagMemoryUnit>(m); }

}  // namespace zr::sim
