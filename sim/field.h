// The field at run time: tags that arrive, leave or change antenna while the simulator serves,
// from a timed scenario file, from control lines, or from tests in-process.
//
// One event a line (the control form; a scenario puts a time in milliseconds before it):
//   add EPC [antenna N] [tid HEX] [user HEX]   a tag arrives (other values: the default pattern)
//   remove EPC                                 it leaves
//   move EPC N                                 it goes to antenna N
// EPC and HEX as the tag files write them (3008..., 30:08:...). Antenna 0, a tag's default,
// answers inventories on every antenna; 1 to 255 only inventories naming that antenna.
//
// Scenario file: "TIME_MS EVENT" lines, times from the start of play; a line "repeat MS"
// plays it again every MS milliseconds (every time below MS). '#' starts a comment.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model.h"

namespace zr::sim {

struct FieldEvent {
    enum Kind { add, remove, move } kind = add;
    Bytes epc;
    std::uint8_t antenna = 0;
    std::optional<Bytes> tid, user;  // add: left out, the default pattern's
};

// One event in the control form. false + `error` on bad input.
bool parse_field_event(const std::string& text, FieldEvent& out, std::string& error);
// Applies `e` to the model's tags (the caller holds the simulator's lock). false + `error`
// when the EPC is already there (add) or is not (remove, move); the tags are then unchanged.
bool apply_field_event(ReaderModel& m, const FieldEvent& e, std::string& error);
// The tags as add lines would bring them: "EPC [antenna N] [killed]".
std::vector<std::string> describe_field(const ReaderModel& m);

struct Scenario {
    struct Timed {
        std::chrono::milliseconds at;
        FieldEvent event;
        int line;  // in the file, for messages
    };
    std::vector<Timed> events;  // in time order (equal times in file order)
    std::optional<std::chrono::milliseconds> repeat;
};

// false + "line N: ..." on a bad line.
bool parse_scenario(const std::string& text, Scenario& out, std::string& error);
bool load_scenario(const std::string& path, Scenario& out, std::string& error);

// Which events of a scenario are due, as time goes on.
class ScenarioPlayer {
public:
    ScenarioPlayer(Scenario s, std::chrono::milliseconds start) : s_(std::move(s)), base_(start) {}
    // The events due by `now` that were not handed out before, in order.
    std::vector<Scenario::Timed> due(std::chrono::milliseconds now);

private:
    Scenario s_;
    std::chrono::milliseconds base_;
    std::size_t next_ = 0;
};

}  // namespace zr::sim
