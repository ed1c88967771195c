// Listening with acknowledgement, data return, raw frame sending and the EAS alarm on the
// fake platform: request bytes, waits, receive loops and results.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {



const unsigned char kPassword[4] = {0xA1, 0xB2, 0xC3, 0xD4};
std::vector<int> times(int n, int ms) { return std::vector<int>(static_cast<std::size_t>(n), ms); }

// A 0xA1 frame of 28 bytes (LEN 24) whose bytes 3.. count up from 01.
Bytes listen_frame(std::uint8_t len = 24) {
    Bytes f{0x00, len, 0xA1};
    for (int i = 1; i < len; ++i) f.push_back(static_cast<std::uint8_t>(i));
    return f;
}

struct Outputs {
    std::array<unsigned char, 6> last_six;
    std::array<unsigned char, 8> first, second;
    Outputs() {
        last_six.fill(0xEE);
        first.fill(0xEE);
        second.fill(0xEE);
    }
    int listen(int h) { return ZRListenReader(h, 0, last_six.data(), first.data(), second.data()); }
    bool zero() const {
        for (auto x : last_six) if (x) return false;
        for (auto x : first) if (x) return false;
        for (auto x : second) if (x) return false;
        return true;
    }
};

const Bytes kRefusal{0x00, 0x0B, 0xA1, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0};

}  // namespace

// ---- ZRListenReader ---------------------------------------------------------------------

TEST(ListenReader, TakesTheFrameFillsTheOutputsAndAcknowledges) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        rig.peer.send(listen_frame());
        Outputs o;
        EXPECT_EQ(o.listen(rig.h), ZR_OK);
        using A8 = std::array<unsigned char, 8>;
        EXPECT_EQ(o.first, (A8{1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(o.second, (A8{9, 10, 11, 12, 13, 14, 15, 16}));
        EXPECT_EQ(o.last_six, (std::array<unsigned char, 6>{11, 12, 13, 14, 15, 16}));
        ASSERT_EQ(rig.peer.requests.size(), 1u);
        EXPECT_EQ(rig.peer.requests[0], (Bytes{0x00, 0x0B, 0xA1, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 0x0A}));
        EXPECT_EQ(rig.fake.sleeps, (std::vector<int>{50, 50}));
    }
}

TEST(ListenReader, TheAcknowledgementOwesNoReplySoTheNextCommandDoesNotWait) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        rig.peer.send(listen_frame());
        Outputs o;
        ASSERT_EQ(o.listen(rig.h), ZR_OK);
        rig.peer.reply_next({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
        auto t0 = rig.fake.now();
        EXPECT_EQ(ZRReset(rig.h), ZR_OK);
        EXPECT_EQ(rig.fake.now() - t0, milliseconds(50));
    }
}

TEST(ListenReader, FramesNotTakenGetTheRefusalAndZeroOutputs) {
    struct Case {
        const char* name;
        Bytes frame;  // empty: nothing arrives
    };
    const Case cases[] = {
        {"nothing", {}},
        {"another command", [] { auto f = listen_frame(); f[2] = 0x71; return f; }()},
        // 27 bytes: under the TCP minimum of 28, and holding the data up to index 18 over serial.
        {"too short for TCP", listen_frame(23)},
        // 20 bytes: the CRC would fall into the data.
        {"shorter than its data", listen_frame(16)},
        {"status-sized", listen_frame(2)},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            if (!c.frame.empty()) rig.peer.send(c.frame);
            Outputs o;
            const bool serial_takes = l.serial && c.frame.size() == 25;
            EXPECT_EQ(o.listen(rig.h), serial_takes ? ZR_OK : 0);
            if (serial_takes) continue;
            EXPECT_TRUE(o.zero());
            ASSERT_EQ(rig.peer.requests.size(), 1u);
            EXPECT_EQ(rig.peer.requests[0], kRefusal);
            EXPECT_EQ(rig.fake.sleeps, (std::vector<int>{50, 50}));
        }
}

TEST(ListenReader, RefusedCallsTouchNothing) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        rig.peer.send(listen_frame());
        Outputs o;
        EXPECT_EQ(ZRListenReader(-1, 0, o.last_six.data(), o.first.data(), o.second.data()), ZR_ERR_NO_SESSION);
        EXPECT_EQ(ZRListenReader(rig.h, 0, nullptr, o.first.data(), o.second.data()), ZR_ERR_ARGUMENT);
        EXPECT_EQ(ZRListenReader(rig.h, 0, o.last_six.data(), nullptr, o.second.data()), ZR_ERR_ARGUMENT);
        EXPECT_EQ(ZRListenReader(rig.h, 0, o.last_six.data(), o.first.data(), nullptr), ZR_ERR_ARGUMENT);
        EXPECT_EQ(o.first[0], 0xEE);
        EXPECT_EQ(o.last_six[0], 0xEE);
        EXPECT_TRUE(rig.peer.written.empty());
        EXPECT_TRUE(rig.fake.sleeps.empty());
        EXPECT_EQ(o.listen(rig.h), ZR_OK) << "the frame is still there";
    }
}

// ---- ZRDataReturn -----------------------------------------------------------------------

TEST(DataReturn, SendsWaitsAndMapsTheStatus) {
    struct Case {
        const char* name;
        Bytes reply;  // empty: silence
        int serial, tcp;
    };
    const Case cases[] = {
        {"status 0 with data", {0x00, 0x04, 0x68, 0x00, 0x01, 0x04}, ZR_OK, ZR_OK},
        {"status 05", {0x00, 0x04, 0x68, 0x05, 0x01, 0x04}, 1005, 1005},
        // Over TCP a reply must bring 8 bytes.
        {"status only", {0x00, 0x02, 0x68, 0x00}, ZR_OK, ZR_ERR_NO_REPLY},
        {"silence", {}, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY},
        // The code is not examined: over TCP another command's reply is mapped; serial skips it.
        {"another command", {0x00, 0x04, 0x67, 0x00, 0x02, 0x10}, ZR_ERR_NO_REPLY, ZR_OK},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            if (c.reply.empty()) rig.peer.silent_next(); else rig.peer.reply_next(c.reply);
            EXPECT_EQ(ZRDataReturn(rig.h, 1, 4), l.serial ? c.serial : c.tcp);
            ASSERT_EQ(rig.peer.requests.size(), 1u);
            EXPECT_EQ(rig.peer.requests[0], (Bytes{0x00, 0x03, 0x68, 0x01, 0x04}));
            EXPECT_EQ(rig.fake.sleeps, std::vector<int>{50});
        }
}

TEST(DataReturn, OptionAboveFourIsRefusedBeforeSending) {
    for (const auto& l : kLinks) {
        Rig rig(l);
        EXPECT_EQ(ZRDataReturn(rig.h, 1, 5), ZR_ERR_PARAMETER);
        EXPECT_EQ(ZRDataReturn(rig.h, 1, 0xFF), ZR_ERR_PARAMETER);
        EXPECT_EQ(ZRDataReturn(-1, 1, 5), ZR_ERR_NO_SESSION);
        EXPECT_TRUE(rig.peer.written.empty());
    }
}

// ---- ZRCodeSending ----------------------------------------------------------------------

TEST(CodeSending, ThreePassesAndTheLastOneDecides) {
    const Bytes ok{0x00, 0x04, 0x5F, 0x00, 0x00, 0x02};
    const Bytes error{0x00, 0x04, 0x5F, 0x01, 0x00, 0x02};
    const Bytes other{0x00, 0x04, 0x67, 0x00, 0x02, 0x10};
    const Bytes short_ok{0x00, 0x02, 0x5F, 0x00};
    struct Case {
        const char* name;
        std::vector<Bytes> replies;  // empty entry: silence
        int serial, tcp;
        std::vector<int> sleeps;
    };
    const Case cases[] = {
        {"all answered", {ok, ok, ok}, ZR_OK, ZR_OK, times(3, 50)},
        {"first lost", {{}, ok, ok}, ZR_OK, ZR_OK, times(3, 50)},
        {"last lost", {ok, ok, {}}, 0, 0, times(3, 50)},
        {"last an error", {ok, ok, error}, 1001, 1001, {50, 50, 50, 50}},
        {"an error, then success", {error, ok, ok}, ZR_OK, ZR_OK, {50, 50, 50, 50}},
        {"last for another command", {ok, ok, other}, 0, 0, times(3, 50)},
        // Over TCP a 6-byte reply is not read.
        {"last status only", {ok, ok, short_ok}, ZR_OK, 0, times(3, 50)},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            for (const auto& r : c.replies)
                if (r.empty()) rig.peer.silent_next(); else rig.peer.reply_next(r);
            const unsigned char data[] = {0x10, 0x20};
            EXPECT_EQ(ZRCodeSending(rig.h, 2, 0, data), l.serial ? c.serial : c.tcp);
            EXPECT_EQ(rig.peer.requests, std::vector<Bytes>(3, Bytes{0x00, 0x03, 0x5F, 0x10, 0x20}));
            EXPECT_EQ(rig.fake.sleeps, c.sleeps);
        }
}

TEST(CodeSending, LengthLimitsAndRefusals) {
    std::vector<unsigned char> data(300, 0x42);
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        EXPECT_EQ(ZRCodeSending(rig.h, 0, 0, data.data()), 0);
        EXPECT_EQ(ZRCodeSending(rig.h, -5, 0, data.data()), 0);
        EXPECT_EQ(ZRCodeSending(rig.h, 0, 0, nullptr), 0);
        EXPECT_EQ(ZRCodeSending(-1, 2, 0, data.data()), 0);
        EXPECT_EQ(ZRCodeSending(rig.h + 9, 2, 0, data.data()), 0);
        EXPECT_EQ(ZRCodeSending(rig.h, 254, 0, data.data()), ZR_ERR_ARGUMENT);
        EXPECT_EQ(ZRCodeSending(rig.h, 1 << 20, 0, data.data()), ZR_ERR_ARGUMENT);
        EXPECT_EQ(ZRCodeSending(rig.h, 2, 0, nullptr), ZR_ERR_ARGUMENT);
        EXPECT_TRUE(rig.peer.written.empty());
        EXPECT_TRUE(rig.fake.sleeps.empty());
        // 253 bytes fill the 256-byte request exactly.
        EXPECT_EQ(ZRCodeSending(rig.h, 253, 0, data.data()), 0);
        ASSERT_EQ(rig.peer.requests.size(), 3u);
        EXPECT_EQ(rig.peer.requests[0].size(), 256u);
        EXPECT_EQ(rig.peer.requests[0][0], 0x00);
        EXPECT_EQ(rig.peer.requests[0][1], 0xFE);
    }
}

TEST(CodeSending, FailedTcpSendEndsTheCall) {
    Rig rig(kLinks[1]);
    rig.peer.failing_writes = 1000;
    const unsigned char data[] = {0x10};
    EXPECT_EQ(ZRCodeSending(rig.h, 1, 0, data), 0);
    EXPECT_TRUE(rig.fake.sleeps.empty());
}

TEST(CodeSending, FailedSerialSendStillReads) {
    Rig rig(kLinks[0]);
    rig.peer.failing_writes = 1000;
    const unsigned char data[] = {0x10};
    EXPECT_EQ(ZRCodeSending(rig.h, 1, 0, data), 0);
    EXPECT_EQ(rig.fake.sleeps, times(3, 50));
}

// ---- EAS alarm --------------------------------------------------------------------------

TEST(EasAlarm, ConfigFlagSendsPasswordAndFlagAndMapsTheStatus) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        rig.peer.reply_next({0x00, 0x02, 0x8C, 0x00});
        EXPECT_EQ(ZRConfigEASflag(rig.h, 1, kPassword, 1), ZR_OK);
        rig.peer.reply_next({0x00, 0x02, 0x8C, 0x62});
        EXPECT_EQ(ZRConfigEASflag(rig.h, 1, kPassword, 0x100), 3003);
        rig.peer.silent_next();
        EXPECT_EQ(ZRConfigEASflag(rig.h, 1, kPassword, 1), ZR_ERR_NO_REPLY);
        ASSERT_EQ(rig.peer.requests.size(), 3u);
        EXPECT_EQ(rig.peer.requests[0], (Bytes{0x00, 0x07, 0x8C, 0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0x01}));
        EXPECT_EQ(rig.peer.requests[1].back(), 0x00);
        EXPECT_EQ(rig.fake.sleeps, times(3, 50));
        EXPECT_EQ(ZRConfigEASflag(rig.h, 1, nullptr, 1), ZR_ERR_ARGUMENT);
        EXPECT_EQ(ZRConfigEASflag(-1, 1, kPassword, 1), ZR_ERR_NO_SESSION);
        EXPECT_EQ(rig.peer.requests.size(), 3u);
    }
}

TEST(EasAlarm, ReportPollsSixTimesTenMillisecondsApart) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        std::array<unsigned char, 256> buffer;
        buffer.fill(0xEE);
        const auto t0 = rig.fake.now();
        EXPECT_EQ(ZREASAlarmReport(rig.h, buffer.data()), 0);
        // Over TCP the first receive already waits longer than the six polls would.
        EXPECT_EQ(rig.fake.sleeps, l.serial ? times(6, 10) : times(1, 10));
        EXPECT_EQ(rig.fake.now() - t0, milliseconds(l.serial ? 60 : 70));
        EXPECT_EQ(buffer[0], 0xEE);
        EXPECT_TRUE(rig.peer.written.empty());
    }
}

TEST(EasAlarm, ReportTakesTheAlarmWhenItComes) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        // Other frames are passed over while the loop lasts.
        rig.peer.send({0x00, 0x04, 0x71, 0x00, 0x09, 0x09}, 5);
        rig.peer.send({0x00, 0x05, 0x8D, 0x00, 0x01, 0x02, 0x03}, 25);
        std::array<unsigned char, 256> buffer;
        buffer.fill(0xEE);
        EXPECT_EQ(ZREASAlarmReport(rig.h, buffer.data()), ZR_OK);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0x00, 0x01, 0x02, 0x03, 0xEE}));
        EXPECT_LT(rig.fake.sleeps.size(), 6u);
    }
}

TEST(EasAlarm, ReportErrorsAndRefusals) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        std::array<unsigned char, 256> buffer;
        buffer.fill(0xEE);
        rig.peer.send({0x00, 0x04, 0x8D, 0x05, 0x01, 0x02});
        EXPECT_EQ(ZREASAlarmReport(rig.h, buffer.data()), 1005);
        EXPECT_EQ(buffer[0], 0xEE);
        EXPECT_EQ(ZREASAlarmReport(-1, buffer.data()), ZR_ERR_NO_SESSION);
        rig.peer.send({0x00, 0x04, 0x8D, 0x00, 0x01, 0x02});
        rig.fake.sleeps.clear();
        EXPECT_EQ(ZREASAlarmReport(rig.h, nullptr), ZR_ERR_ARGUMENT);
        EXPECT_TRUE(rig.fake.sleeps.empty());
        EXPECT_EQ(ZREASAlarmReport(rig.h, buffer.data()), ZR_OK);
    }
}

TEST(EasAlarm, EndSendsModeZeroAndTakesTheFirstAlarmFrame) {
    struct Case {
        const char* name;
        Bytes reply;  // empty: silence
        int expected;
        std::vector<int> sleeps;
    };
    const Case cases[] = {
        {"status 0", {0x00, 0x02, 0x8D, 0x00}, ZR_OK, {50}},
        {"status 01", {0x00, 0x02, 0x8D, 0x01}, 1001, {50}},
        {"an alarm frame", {0x00, 0x05, 0x8D, 0x00, 0x01, 0x02, 0x03}, ZR_OK, {50}},
        {"silence", {}, ZR_ERR_NO_REPLY, times(6, 50)},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            if (c.reply.empty()) rig.peer.silent_next(); else rig.peer.reply_next(c.reply);
            EXPECT_EQ(ZREndEASAlarm(rig.h, 1), c.expected);
            ASSERT_EQ(rig.peer.requests.size(), 1u);
            EXPECT_EQ(rig.peer.requests[0], (Bytes{0x00, 0x04, 0x8D, 0x01, 0x00, 0x00}));
            EXPECT_EQ(rig.fake.sleeps, c.sleeps);
        }
}

TEST(EasAlarm, EndKeepsReadingPastFramesOfOtherCommands) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        rig.peer.reply_next({0x00, 0x04, 0x71, 0x00, 0x09, 0x09});
        rig.peer.send({0x00, 0x02, 0x8D, 0x00}, 120);
        EXPECT_EQ(ZREndEASAlarm(rig.h, 1), ZR_OK);
        EXPECT_LE(rig.fake.sleeps.size(), 6u);
        EXPECT_GE(rig.fake.sleeps.size(), 2u);
    }
}
