// The INI keys of the library, in a header of its own: zrgate links only the shared library,
// whose internals are hidden, and checks its reader sections against this same list.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <string>
#include <vector>

namespace zr::core {

// Every key the library reads, in its own section or in the special one, and the keys other
// parts of the configuration keep: a key outside this list is unknown.
inline constexpr const char* kKnownKeys[] = {
    "ZR_PORT_TYPE",     "ZR_COM_NUMBER",   "ZR_HOST_NAME",    "ZR_SCAN_TRIES",     "ZR_RETRIES",
    "ZR_READ_TRIES",    "ZR_WRITE_TRIES",  "ZR_ANTENNAS",     "ZR_ANTENNA_CONCTL", "ZR_SAVE_LOG_FILE",
    "ZR_LOG_FILE_NAME", "ZR_REPEAT_DATAS", "ZR_READ_TIMEOUT", "ZR_TRACE_FILE",     "ZR_ADDERIESS",
    "ZR_LENGTH",        "ZR_MATCH_DATA",   "ZR_REPLY_TIMING", "ZR_MIN_GAP_MS",     "ZR_TCP_PORT",
};

// The keys ZRNetAddrSet writes beside ZR_HOST_NAME, for people: the library never reads them.
inline constexpr const char* kWrittenKeys[] = {"ZR_SUBNET", "ZR_GATE"};

// Letters changed, added or removed to turn `a` into `b`.
inline std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The known key `unknown` is most likely a misspelling of, or "" when none is close. In the
// header so that the tools suggest what the library would.
inline std::string nearest_known(const std::string& unknown) {
    std::string u = unknown;
    for (auto& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string best;
    std::size_t best_distance = std::max<std::size_t>(2, u.size() / 4) + 1;
    for (const char* k : kKnownKeys) {
        const std::size_t d = edit_distance(u, k);
        if (d < best_distance) {
            best_distance = d;
            best = k;
        }
    }
    return best;
}

}  // namespace zr::core
