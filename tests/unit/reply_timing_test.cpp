// Whole reply timing on virtual time: each command group returns the moment its reply is
// whole, gives up at its waits plus the margin, sends each request in one write; and in
// both timings a reply that comes late is never another command's answer.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/cause.h"
#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {

const unsigned char kId[8] = {1, 2, 3, 4, 5, 6, 7, 8};
const unsigned char kPwd[4] = {0, 0, 0, 0};
const unsigned char kData[64] = {};
unsigned char out[512];

long elapsed_ms(FakePlatform& fake, microseconds t0) {
    return static_cast<long>(std::chrono::duration_cast<milliseconds>(fake.now() - t0).count());
}

struct Group {
    const char* name;
    std::uint8_t code;  // of the frame that answers it
    std::function<int(int h)> call;
    int exchanges;             // request and reply pairs (or frames collected)
    bool unasked;              // the reader's frame comes without a request (reports, listen)
    int silent_serial, silent_tcp;  // whole timing, nothing answers: waits + 60 ms
};

// clang-format off
const Group kGroups[] = {
    {"status reply (Reset)", 0x67, [](int h) { return ZRReset(h); }, 1, false, 110, 110},
    {"six receives (ReadUserData)", 0x72, [](int h) { return ZRReadUserData(h, 1, 0, 4, kId, out); }, 1, false, 360, 360},
    {"tag write (WriteUserData)", 0x73, [](int h) { return ZRWriteUserData(h, 1, 0, kId, kData, 4); }, 1, false, 560, 560},
    {"query (SysQuery)", 0x62, [](int h) { return ZRSysQuery(h, 0, 2, out); }, 1, false, 560, 560},
    {"per-link waits (FreqQuery)", 0x62, [](int h) { return ZRFreqQuery(h, 0, 2, out); }, 1, false, 260, 160},
    {"polls (PowerOff)", 0x61, [](int h) { return ZRPowerOff(h); }, 1, false, 2560, 1960},
    {"passes (CodeSending)", 0x5F, [](int h) { return ZRCodeSending(h, 4, 0, kData); }, 3, false, 330, 330},
    {"report (Report)", 0x71, [](int h) { return ZRReport(h, out); }, 1, true, 60, 60},
    {"alarm poll (EASAlarmReport)", 0x8D, [](int h) { return ZREASAlarmReport(h, out); }, 1, true, 120, 120},
    {"reader first (ListenReader)", 0xA1, [](int h) { return ZRListenReader(h, 0, out, out + 8, out + 16); }, 1, true, 110, 110},
};
// clang-format on

Bytes answer_of(std::uint8_t code) {
    if (code == 0xA1) {  // a listen frame: 16 data bytes
        Bytes f{0x00, 0x18, 0xA1};  // long enough for TCP's minimum too
        f.resize(26, 0x11);
        return f;
    }
    return {0x00, 0x06, code, 0x05, 0, 0, 0, 0};  // status 05: no data for a handler to check
}

}  // namespace

TEST(ReplyTiming, TheKeyAndTheExportsSetTheMode) {
    struct Case {
        const char* keys;
        int open, mode;
    };
    const Case cases[] = {
        {"", ZR_OK, ZR_REPLY_TIMING_FIXED},
        {"ZR_REPLY_TIMING=fixed\n", ZR_OK, ZR_REPLY_TIMING_FIXED},
        {"ZR_REPLY_TIMING=whole\n", ZR_OK, ZR_REPLY_TIMING_WHOLE},
        {"ZR_REPLY_TIMING = WHOLE ; as fast as the reader\n", ZR_OK, ZR_REPLY_TIMING_WHOLE},
        {"ZR_REPLY_TIMING=soon\n", ZR_ERR_CONFIG, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        FakePlatform fake;
        fake.tcp("192.0.2.7");
        int h = -1;
        EXPECT_EQ(open_fake(fake, "TCP", "192.0.2.7", h, c.keys), c.open);
        if (c.open != ZR_OK) {
            EXPECT_STREQ(ZRLastCause(), "ZR_REPLY_TIMING 'soon' in [reader] is neither fixed nor whole");
            EXPECT_EQ(h, -1);
            continue;
        }
        EXPECT_EQ(ZRGetReplyTiming(h), c.mode);
        EXPECT_EQ(ZRSetReplyTiming(h, 2), ZR_ERR_ARGUMENT);
        EXPECT_EQ(ZRGetReplyTiming(h), c.mode) << "a refused mode changes nothing";
        EXPECT_EQ(ZRSetReplyTiming(h, 1 - c.mode), ZR_OK);
        EXPECT_EQ(ZRGetReplyTiming(h), 1 - c.mode);
        EXPECT_EQ(ZRReconnect(h), ZR_OK);
        EXPECT_EQ(ZRGetReplyTiming(h), 1 - c.mode) << "the session keeps it across a reconnect";
    }
    EXPECT_EQ(ZRGetReplyTiming(-1), ZR_ERR_NO_SESSION);
    EXPECT_EQ(ZRSetReplyTiming(12345, 1), ZR_ERR_NO_SESSION);
}

TEST(ReplyTiming, WholeReturnsWhenTheReplyIsWholeAndGivesUpAtTheWaitsPlusTheMargin) {
    constexpr int kReaderMs = 7;
    for (const auto& g : kGroups)
        for (const auto& l : kLinks) {
            SCOPED_TRACE(std::string(l.type) + ": " + g.name);
            {
                Rig rig(l, "ZR_REPLY_TIMING=whole\n");
                const auto t0 = rig.fake.now();
                g.call(rig.h);
                EXPECT_EQ(elapsed_ms(rig.fake, t0), l.serial ? g.silent_serial : g.silent_tcp) << "silent reader";
                EXPECT_TRUE(rig.fake.sleeps.empty()) << "whole timing never sleeps a wait";
            }
            Rig rig(l, "ZR_REPLY_TIMING=whole\n");
            for (int i = 0; i < g.exchanges; ++i)
                if (g.unasked)
                    rig.peer.send(answer_of(g.code), kReaderMs);
                else
                    rig.peer.reply_next(answer_of(g.code), kReaderMs);
            const auto t0 = rig.fake.now();
            const int result = g.call(rig.h);
            EXPECT_EQ(elapsed_ms(rig.fake, t0), kReaderMs * g.exchanges) << "answered after " << kReaderMs << " ms";
            EXPECT_NE(result, ZR_ERR_NO_REPLY);
        }
}

TEST(ReplyTiming, WholeSendsEachRequestInOneWriteWithTheSameBytes) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Bytes wire[2];
        for (int whole = 0; whole < 2; ++whole) {
            Rig rig(l, whole ? "ZR_REPLY_TIMING=whole\n" : "");
            ZRWriteUserData(rig.h, 1, 0, kId, kData, 8);
            wire[whole] = rig.peer.written;
            if (whole && l.serial) {
                EXPECT_EQ(rig.peer.writes, 1);
                EXPECT_EQ(rig.peer.flushes, 2) << "the command's flush and one drain after the write";
            }
        }
        EXPECT_EQ(wire[0], wire[1]);
    }
}

TEST(ReplyTiming, TheLeastGapHoldsTheNextRequestBack) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l, "ZR_REPLY_TIMING=whole\nZR_MIN_GAP_MS=25\n");
        rig.peer.reply_next({0x00, 0x04, 0x67, 0x00, 0, 0}, 3);
        rig.peer.reply_next({0x00, 0x04, 0x67, 0x00, 0, 0}, 3);
        ASSERT_EQ(ZRReset(rig.h), ZR_OK);
        const auto t0 = rig.fake.now();
        EXPECT_EQ(ZRReset(rig.h), ZR_OK);
        EXPECT_EQ(elapsed_ms(rig.fake, t0), 25 + 3);
    }
}

// A query answered late, then the same query at once: the late answer (data AA) is never the
// second one's (data BB). The reader answers in order, as readers do.
TEST(ReplyTiming, ALateReplyIsNeverTheNextCommandsAnswer) {
    auto state = [](std::uint8_t v) { return Bytes{0x00, 0x09, 0xA0, 0x00, 0x00, v, v, v, v, v, v}; };
    for (const auto& l : kLinks)
        for (int whole = 0; whole < 2; ++whole)
            for (int late_ms : {150, 300, 900, 2000}) {
                SCOPED_TRACE(std::string(l.type) + (whole ? " whole " : " fixed ") + std::to_string(late_ms) + " ms");
                Rig rig(l, whole ? "ZR_REPLY_TIMING=whole\n" : "");
                rig.peer.reply_next(state(0xAA), late_ms);
                unsigned char s[6] = {};
                ASSERT_EQ(ZRGetReaderState(rig.h, 0, s), ZR_ERR_NO_REPLY);
                int wrong = 0, right = 0;
                // The same query until the reader has caught up, each answered in 2 ms once
                // the late one is out.
                for (int i = 0; i < 40 && right == 0; ++i) {
                    rig.peer.reply_next(state(0xBB), 2);
                    std::fill(std::begin(s), std::end(s), 0);
                    const int r = ZRGetReaderState(rig.h, 0, s);
                    if (r == ZR_OK) (s[0] == 0xBB ? right : wrong)++;
                }
                EXPECT_EQ(wrong, 0);
                EXPECT_EQ(right, 1) << ZRLastCause();
            }
}

// A reader that drops one request (no answer at all) costs no more than that request: the
// next command of the same code takes its own answer, once nothing else of its code follows.
TEST(ReplyTiming, ADroppedRequestDoesNotCostTheNextCommand) {
    for (const auto& l : kLinks)
        for (int whole = 0; whole < 2; ++whole) {
            SCOPED_TRACE(std::string(l.type) + (whole ? " whole" : " fixed"));
            Rig rig(l, whole ? "ZR_REPLY_TIMING=whole\n" : "");
            rig.peer.silent_next();
            EXPECT_EQ(ZRGetReaderfixNO(rig.h, out), ZR_ERR_NO_REPLY);
            rig.peer.reply_next({0x00, 0x08, 0xA4, 0x00, 1, 2, 3, 4, 5, 6}, 2);
            EXPECT_EQ(ZRGetReaderfixNO(rig.h, out), ZR_OK);
            rig.peer.reply_next({0x00, 0x08, 0xA4, 0x00, 1, 2, 3, 4, 5, 6}, 2);
            const auto t0 = rig.fake.now();
            EXPECT_EQ(ZRGetReaderfixNO(rig.h, out), ZR_OK);
            EXPECT_EQ(elapsed_ms(rig.fake, t0), whole ? 2 : 50) << "in step: no follower wait any more";
        }
}

// The late reply comes a few milliseconds before the answer to the next request: the frame
// of an owed code waits for its follower, and the follower is the answer.
TEST(ReplyTiming, ALateReplyWaitsForTheAnswerThatFollowsIt) {
    auto state = [](std::uint8_t v) { return Bytes{0x00, 0x09, 0xA0, 0x00, 0x00, v, v, v, v, v, v}; };
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l, "ZR_REPLY_TIMING=whole\n");
        rig.peer.silent_next();
        unsigned char s[6] = {};
        ASSERT_EQ(ZRGetReaderState(rig.h, 0, s), ZR_ERR_NO_REPLY);
        rig.peer.send(state(0xAA), 3);        // the first one's answer, late
        rig.peer.reply_next(state(0xBB), 8);  // this one's, 5 ms after it
        EXPECT_EQ(ZRGetReaderState(rig.h, 0, s), ZR_OK);
        EXPECT_EQ(s[0], 0xBB);
    }
}
