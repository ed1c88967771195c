// One EPC inventory round, shared by the inventory verb, the tour and encode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrtool {

// How one inventory round went: what the start returned, the reports collected, and the
// result that ended the collection (0 when the reader had no more to say).
struct Round {
    int start = 0;
    std::vector<std::vector<std::uint8_t>> reports;
    int end = 0;
    bool lost = false;  // the session's link is known lost after the round
    std::string cause;  // the library's words for the failure (ZRLastCause), when not ok
    int calls = 0;      // library calls the round made
    bool ok() const { return start > 0 && end == 0 && !lost; }
};

// Starts an EPC inventory and collects its reports until a few empty calls in a row.
Round inventory_round(int handle, int antenna, int option1, int option2);

// The words for a lost link, from the library's cause.
std::string lost_text(const std::string& cause);

}  // namespace zrtool
