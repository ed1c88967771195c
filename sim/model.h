// The reader, as pure logic: a request payload in, reply payloads out, plus frames it
// sends on its own. No sockets, no clocks of its own: hosts pass the time in.
//
// Behaviour is grouped in units (sim/units/), each owning its state and registering the
// command codes it answers. What several units share lives here: the tag population, the
// device class, the tag selection.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "wire.h"

namespace zr::sim {

// User memory is addressed in bytes by the identifier-addressed commands (0x72, 0x73, 0x74) and
// in 16-bit words by the password-authorised ones (0x84, 0x85): word n is bytes 2n and 2n+1.
// A reply to 0x84 carries the number of words read at index 4, then the words.
struct Tag {
    std::array<std::uint8_t, 8> id{};  // the 8-byte identifier of the identifier-addressed commands
    Bytes epc;                         // EPC code (a whole number of words)
    Bytes tid;                         // TID code
    Bytes user;                        // user memory
    std::array<std::uint8_t, 4> visit_password{};
    std::array<std::uint8_t, 4> destroy_password{};
    bool eas = false;     // EAS flag: sounds the alarm while alarm mode is on
    bool killed = false;  // destroyed: answers nothing any more
    std::uint8_t antenna = 0;  // 0: within reach of every antenna; else only of this one
    bool answers_on(std::uint8_t a) const { return antenna == 0 || antenna == a; }
    // Protection kept by the tag memory unit (sim/units/tag_memory.h).
    std::vector<std::pair<std::size_t, std::size_t>> locked_user;  // [begin, end) user bytes locked by 0x74
    std::uint8_t locked_regions = 0;                                // bit r: region r locked by 0x8A
};

// Status bytes the model answers with; which byte stands for which error depends on the
// device class (class 3 readers report tag errors as 0x6N, classes 1 and 2 as 0x9N).
using Error = protocol::ReaderError;  // status bytes by device class: the protocol's table

class ReaderModel;

// A group of commands with its own state.
class Unit {
public:
    virtual ~Unit() = default;
    // Frames the unit sends on its own at `now` (alarms and the like).
    virtual std::vector<Bytes> unsolicited(ReaderModel&, std::chrono::milliseconds /*now*/) { return {}; }
};

struct Request {
    std::uint8_t code;
    Bytes params;  // the bytes after the command code
    std::size_t size() const { return params.size(); }
    std::uint8_t operator[](std::size_t i) const { return i < params.size() ? params[i] : 0; }
};

using Replies = std::vector<Bytes>;

class ReaderModel {
public:
    ReaderModel();
    ~ReaderModel();
    ReaderModel(const ReaderModel&) = delete;
    ReaderModel& operator=(const ReaderModel&) = delete;

    // One request payload (LEN, code, params; CRC removed) -> reply payloads (CRC not added).
    Replies handle(const Bytes& payload);
    // Frames the reader sends on its own, due at `now` (pushed frames first).
    Replies unsolicited(std::chrono::milliseconds now);
    // Queues a frame to be sent on its own at the next chance.
    void push(Bytes payload) { pushed_.push_back(std::move(payload)); }
    std::size_t pushed_waiting() const { return pushed_.size(); }

    using Handler = std::function<Replies(const Request&)>;
    void on(std::uint8_t code, Handler handler) { handlers_[code] = std::move(handler); }

    template <typename U>
    U& unit() {
        for (auto& u : units_)
            if (auto* p = dynamic_cast<U*>(u.get())) return *p;
        throw std::logic_error("unit not installed");
    }

    // Shared state.
    std::vector<Tag> tags;
    int device_class = 3;
    std::uint8_t status(Error e) const;
    Bytes error(std::uint8_t code, Error e) const { return reply_payload(code, status(e)); }
    static Bytes ok(std::uint8_t code, const Bytes& data = {}) { return reply_payload(code, 0, data); }

    // Tags that answer: not killed, and matching the selection when one is active.
    std::vector<Tag*> tags_in_field();
    // The identifier-addressed commands (0x72, 0x73, 0x74) name their tag: a tag in the field
    // with that identifier, or nullptr.
    Tag* find_by_id(const std::uint8_t* id8);
    // The password-authorised commands (0x82-0x85, 0x88-0x8C) name no tag: they address the first
    // tag in the field (so a selection picks it), or nullptr when none answers.
    Tag* addressed_tag();
    // A command authorised by `password` (4 bytes) may touch `t`: it equals the tag's visit
    // password (a tag whose visit password is 00000000 accepts any).
    static bool visit_password_ok(const Tag& t, const std::uint8_t* password);

    struct Selection {
        bool active = false;
        bool by_epc = false;  // 0x80 matches the EPC, 0x70 the identifier
        Bytes match;          // a prefix to match
    } selection;

    static std::vector<Tag> default_tags();

private:
    std::map<std::uint8_t, Handler> handlers_;
    std::vector<std::unique_ptr<Unit>> units_;
    std::deque<Bytes> pushed_;
};

// Installers of the units; each registers its commands on the model.
std::unique_ptr<Unit> make_core_unit(ReaderModel&);         // reset, test mode
std::unique_ptr<Unit> make_inventory_unit(ReaderModel&);    // inventories, reports, listen, EAS
std::unique_ptr<Unit> make_tag_memory_unit(ReaderModel&);   // memory, selection, passwords, locks, kill
std::unique_ptr<Unit> make_config_unit(ReaderModel&);       // parameter areas, power, I/O, network, clock

}  // namespace zr::sim
