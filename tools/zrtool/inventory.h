// One EPC inventory round, shared by the inventory verb, the tour and encode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrtool {

// The reader's "no tag" status (0x61 in class 3, 0x91 in classes 1 and 2), as the report
// functions give it: the reader's answer for an empty field, not a failure.
inline bool no_tag(int r) { return r == 3002 || r == 4002; }

// How one inventory round went: what the start returned, the reports collected, and the
// result that ended the collection: 0 when the reader had no more to say, its "no tag"
// status for an empty field, or an error.
struct Round {
    int start = 0;
    std::vector<std::vector<std::uint8_t>> reports;
    int end = 0;
    bool answered = false;  // a frame of any kind came after the start
    bool lost = false;      // the session's link is known lost after the round
    std::string cause;      // why the round failed, when it did
    int calls = 0;          // library calls the round made
    bool ok() const { return start > 0 && answered && (end == 0 || no_tag(end)) && !lost; }
    bool silent() const { return start > 0 && !answered && !lost; }
};

// Starts an EPC inventory and collects its reports until a few empty calls in a row.
Round inventory_round(int handle, int antenna, int option1, int option2);

// The words for a lost link, from the library's cause.
std::string lost_text(const std::string& cause);

}  // namespace zrtool
