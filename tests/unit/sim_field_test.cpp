// Tags that come and go: zrsim's scenario files and control lines, as parsed and played.
#include <gtest/gtest.h>

#include "field.h"

using namespace std::chrono_literals;
using zr::sim::FieldEvent;
using zr::sim::Scenario;
using zr::sim::ScenarioPlayer;

namespace {

// A scenario's events as "TIME kind EPC antenna [tid] [user] @line".
std::vector<std::string> summary(const Scenario& s) {
    std::vector<std::string> out;
    const char* kinds[] = {"add", "remove", "move"};
    for (const auto& t : s.events) {
        std::string line = std::to_string(t.at.count()) + " " + kinds[t.event.kind] + " " + zr::sim::hex(t.event.epc) +
                           " a" + std::to_string(t.event.antenna);
        if (t.event.tid) line += " tid " + zr::sim::hex(*t.event.tid);
        if (t.event.user) line += " user " + zr::sim::hex(*t.event.user);
        out.push_back(line + " @" + std::to_string(t.line));
    }
    return out;
}

}  // namespace

TEST(Scenario, GoodFilesInTimeOrder) {
    const struct {
        const char* text;
        std::vector<std::string> events;
        long repeat;  // 0: none
    } cases[] = {
        {"# a tag passes by\n500 add 3008 antenna 2 tid E2:80 user 0011\n\n900 move 3008 1\n1500 remove 3008  # gone\n",
         {"500 add 30 08 a2 tid E2 80 user 00 11 @2", "900 move 30 08 a1 @4", "1500 remove 30 08 a0 @5"},
         0},
        {"repeat 1000\n600 remove AAAA\n0 add AAAA\n0 add BBBB\n",
         {"0 add AA AA a0 @3", "0 add BB BB a0 @4", "600 remove AA AA a0 @2"},
         1000},
        {"\t# only comments\n", {}, 0},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        ASSERT_TRUE(zr::sim::parse_scenario(c.text, s, error)) << c.text << error;
        EXPECT_EQ(summary(s), c.events) << c.text;
        EXPECT_EQ(s.repeat.value_or(0ms).count(), c.repeat) << c.text;
    }
}

TEST(Scenario, BadLinesAreNamedWithTheirNumber) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"# fine\n100 add 3008\nsoon add 3008\n", "line 3: expected TIME_MS"},
        {"-5 add 3008\n", "line 1: expected TIME_MS"},
        {"100 appear 3008\n", "line 1: unknown event 'appear'"},
        {"100 add\n", "line 1: add needs an EPC"},
        {"100 add 300\n", "line 1: EPC '300' is not 1 to 31 words"},
        {"100 add 30\n", "line 1: EPC '30' is not 1 to 31 words"},
        {"100 add 3008 antenna 256\n", "line 1: antenna '256' is not 0 to 255"},
        {"100 add 3008 antenna\n", "line 1: antenna needs a value"},
        {"100 add 3008 colour red\n", "line 1: unknown word 'colour'"},
        {"100 add 3008 user 001\n", "line 1: user '001' is not hex"},
        {"100 add 3008 user 00\n", "line 1: user memory is 0 to 256 words"},
        {"100 remove 3008 now\n", "line 1: remove takes only the EPC"},
        {"100 move 3008\n", "line 1: move takes the EPC and an antenna"},
        {"100 move 3008 x\n", "line 1: antenna 'x' is not 0 to 255"},
        {"100\n", "line 1: expected add, remove or move"},
        {"repeat 0\n", "line 1: repeat takes a period"},
        {"repeat 10\nrepeat 20\n", "line 2: a second repeat line"},
        {"repeat 1000\n0 add 3008\n1000 remove 3008\n", "line 3: at 1000 ms, not before the repeat period of line 1"},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(zr::sim::parse_scenario(c.text, s, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << "-> " << error;
    }
}

// Virtual times, handed in: each event once, when its time has come, and again each period.
TEST(Scenario, PlayerHandsOutEachEventOnceWhenDueAndAgainEachPeriod) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(zr::sim::parse_scenario("repeat 1000\n100 add 3008\n600 remove 3008\n", s, error)) << error;
    ScenarioPlayer player(s, 5000ms);  // started 5 s into the simulator's clock
    const struct {
        long now;
        std::vector<int> lines;
    } steps[] = {{5099, {}}, {5100, {2}}, {5599, {}}, {5600, {3}}, {6000, {}}, {6100, {2}}, {8700, {3, 2, 3, 2, 3}}};
    for (const auto& step : steps) {
        std::vector<int> lines;
        for (const auto& t : player.due(std::chrono::milliseconds(step.now))) lines.push_back(t.line);
        EXPECT_EQ(lines, step.lines) << "at " << step.now;
    }
}

// What the simulator's field does with events, and what "list" would show.
TEST(Scenario, EventsChangeTheTagsOrSayWhyNot) {
    zr::sim::ReaderModel m;
    const struct {
        const char* event;
        const char* error;  // "" applies
        std::size_t tags;
    } steps[] = {
        {"add 3008 antenna 2", "", 4},
        {"add 3008", "EPC 3008 is already in the field", 4},
        {"move 3008 7", "", 4},
        {"remove 3008", "", 3},
        {"remove 3008", "EPC 3008 is not in the field", 3},
        {"move 3008 1", "EPC 3008 is not in the field", 3},
    };
    for (const auto& step : steps) {
        FieldEvent e;
        std::string error;
        ASSERT_TRUE(zr::sim::parse_field_event(step.event, e, error)) << step.event << error;
        EXPECT_EQ(zr::sim::apply_field_event(m, e, error), !*step.error) << step.event;
        if (*step.error) {
            EXPECT_EQ(error, step.error);
        }
        EXPECT_EQ(m.tags.size(), step.tags) << step.event;
        if (std::string(step.event) == "move 3008 7") {
            EXPECT_EQ(zr::sim::describe_field(m).back(), "3008 antenna 7");
            // A newcomer takes an identifier nobody has, so identifier-addressed commands find it.
            EXPECT_EQ(m.tags.back().id.back(), 4);
        }
    }
}
