// Shared by the tests of the configuration commands: one row per exchange, run on both links
// of the fake platform, checking the request, the waits, the flushes, the result and the output.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "zr.h"

namespace zr::test::config {

// A session opened with the antenna-control byte 5.
struct Session : Rig {
    explicit Session(const LinkCase& l, const std::string& extra = "ZR_ANTENNA_CONCTL=5\n") : Rig(l, extra) {}
};

inline constexpr std::uint8_t kUnset = 0xEE;  // what output buffers hold before a call

struct Row {
    const char* name;
    // Calls the function on handle `h` with `out` (64 bytes, kUnset) as its output.
    std::function<int(int h, std::uint8_t* out)> call;
    Bytes request;
    Bytes reply;  // payload; long enough for the TCP minimum
    int result;
    Bytes output;  // expected start of `out`; the rest must stay kUnset
    std::vector<int> serial_sleeps, tcp_sleeps;
    int flushes;  // by the command itself, serial link
};

inline void run_rows(const std::vector<Row>& rows) {
    for (const auto& l : kLinks)
        for (const auto& row : rows) {
            SCOPED_TRACE(std::string(l.type) + ": " + row.name);
            Session s(l);
            s.peer.reply_next(row.reply);
            std::vector<std::uint8_t> out(64, kUnset);
            EXPECT_EQ(row.call(s.h, out.data()), row.result);
            ASSERT_EQ(s.peer.requests.size(), 1u);
            EXPECT_EQ(s.peer.requests[0], row.request);
            EXPECT_EQ(s.fake.sleeps, l.serial ? row.serial_sleeps : row.tcp_sleeps);
            if (l.serial) {
                EXPECT_EQ(s.command_flushes(), row.flushes);
            }
            std::vector<std::uint8_t> expected(64, kUnset);
            std::copy(row.output.begin(), row.output.end(), expected.begin());
            EXPECT_EQ(out, expected);
        }
}

// The CRC'd frame of a payload, as the reader sends it (what a raw-frame copy hands out).
inline Bytes frame_of(const Bytes& payload) { return sim::with_crc(payload); }

}  // namespace zr::test::config
