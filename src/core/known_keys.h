// The INI keys of the library, in a header of its own: zrgate links only the shared library,
// whose internals are hidden, and checks its reader sections against this same list.
#pragma once

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

}  // namespace zr::core
