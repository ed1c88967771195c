// The system and tag parameter area commands on the fake platform.
#include "config_support.h"

using namespace zr::test;
using namespace zr::test::config;

namespace {
const std::uint8_t kData[] = {0xAA, 0xBB, 0xCC};
}

TEST(Parameters, RequestsWaitsAndOutputs) {
    Bytes freq_out = frame_of({0x00, 0x05, 0x62, 0x00, 0x10, 0x27, 0xE3});
    freq_out.resize(54, 0);  // the raw frame, zeros past it
    run_rows({
        {"SysQuery", [](int h, auto* out) { return ZRSysQuery(h, 0x10, 4, out); },
         {0x00, 0x03, 0x62, 0x10, 0x04}, {0x00, 0x06, 0x62, 0x00, 0xA1, 0xA2, 0xA3, 0xA4}, ZR_OK,
         {0xA1, 0xA2, 0xA3, 0xA4}, {500}, {500}, 0},
        {"SysQuery of 52 bytes", [](int h, auto* out) { return ZRSysQuery(h, 0x00, 52, out); },
         {0x00, 0x03, 0x62, 0x00, 0x34}, [] { Bytes r{0x00, 54, 0x62, 0x00}; r.resize(56, 0x5A); return r; }(), ZR_OK,
         Bytes(52, 0x5A), {500}, {500}, 0},
        {"SysQuery of 0 bytes writes nothing", [](int h, auto* out) { return ZRSysQuery(h, 0x10, 0, out); },
         {0x00, 0x03, 0x62, 0x10, 0x00}, {0x00, 0x02, 0x62, 0x00}, ZR_OK, {}, {500}, {500}, 0},
        {"SysQuery status 05 leaves the buffer", [](int h, auto* out) { return ZRSysQuery(h, 0x10, 2, out); },
         {0x00, 0x03, 0x62, 0x10, 0x02}, {0x00, 0x04, 0x62, 0x05, 0x00, 0x00}, 1005, {}, {500}, {500}, 0},
        {"TagQuery", [](int h, auto* out) { return ZRTagQuery(h, 0x02, 3, out); },
         {0x00, 0x03, 0x64, 0x02, 0x03}, {0x00, 0x05, 0x64, 0x00, 0x01, 0x02, 0x03}, ZR_OK, {0x01, 0x02, 0x03},
         {500}, {500}, 0},
        {"SysFastSet", [](int h, auto*) { return ZRSysFastSet(h, 3, 2, kData); },
         {0x00, 0x05, 0x63, 0x03, 0x02, 0xAA, 0xBB}, {0x00, 0x02, 0x63, 0x00}, ZR_OK, {}, {100}, {50}, 0},
        {"SysFastSet of 0 bytes", [](int h, auto*) { return ZRSysFastSet(h, 7, 0, kData); },
         {0x00, 0x03, 0x63, 0x07, 0x00}, {0x00, 0x02, 0x63, 0x00}, ZR_OK, {}, {100}, {50}, 0},
        {"SysFastSet status 05 pauses", [](int h, auto*) { return ZRSysFastSet(h, 3, 1, kData); },
         {0x00, 0x04, 0x63, 0x03, 0x01, 0xAA}, {0x00, 0x02, 0x63, 0x05}, 1005, {}, {100, 50}, {50, 50}, 0},
        {"TagFastSet", [](int h, auto*) { return ZRTagFastSet(h, 1, 3, kData); },
         {0x00, 0x06, 0x65, 0x01, 0x03, 0xAA, 0xBB, 0xCC}, {0x00, 0x02, 0x65, 0x00}, ZR_OK, {}, {100}, {50}, 0},
        {"FreqQuery copies 54 raw bytes", [](int h, auto* out) { return ZRFreqQuery(h, 0x40, 52, out); },
         {0x00, 0x03, 0x62, 0x40, 0x00}, {0x00, 0x05, 0x62, 0x00, 0x10, 0x27, 0xE3}, ZR_OK, freq_out, {200},
         {100}, 0},
        {"SetReadCfg sends the antenna control", [](int h, auto*) { return ZRSetReadCfg(h, 4, 2); },
         {0x00, 0x04, 0x64, 0x05, 0x04, 0x02}, {0x00, 0x05, 0x64, 0x00, 0x05, 0x04, 0x02}, ZR_OK, {}, {50}, {50},
         1},
    });
}

TEST(Parameters, TcpMinimumsRefuseShortReplies) {
    // Over TCP the query wants all its data bytes, the read configuration 9 bytes; the serial
    // link takes the same replies.
    struct Case {
        const char* name;
        std::function<int(int, std::uint8_t*)> call;
        Bytes reply;
        int serial, tcp;
    };
    const Case cases[] = {
        {"SysQuery status-only error", [](int h, auto* b) { return ZRSysQuery(h, 0, 4, b); },
         {0x00, 0x02, 0x62, 0x05}, 1005, ZR_ERR_NO_REPLY},
        {"SysQuery one byte short", [](int h, auto* b) { return ZRSysQuery(h, 0, 4, b); },
         {0x00, 0x05, 0x62, 0x00, 1, 2, 3}, ZR_OK, ZR_ERR_NO_REPLY},
        {"TagQuery status-only error", [](int h, auto* b) { return ZRTagQuery(h, 0, 1, b); },
         {0x00, 0x02, 0x64, 0x64}, 3005, ZR_ERR_NO_REPLY},
        {"SetReadCfg status only", [](int h, auto*) { return ZRSetReadCfg(h, 1, 1); }, {0x00, 0x02, 0x64, 0x00},
         ZR_OK, ZR_ERR_NO_REPLY},
        {"SetReadCfg 8 bytes", [](int h, auto*) { return ZRSetReadCfg(h, 1, 1); },
         {0x00, 0x04, 0x64, 0x00, 0x05, 0x01}, ZR_OK, ZR_ERR_NO_REPLY},
        {"FreqQuery status only", [](int h, auto* b) { return ZRFreqQuery(h, 0, 0, b); }, {0x00, 0x02, 0x62, 0x00},
         ZR_OK, ZR_OK},
        {"SysFastSet status only", [](int h, auto*) { return ZRSysFastSet(h, 9, 1, kData); },
         {0x00, 0x02, 0x63, 0x00}, ZR_OK, ZR_OK},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + ": " + c.name);
            Session s(l);
            s.peer.reply_next(c.reply);
            std::uint8_t buffer[64] = {};
            EXPECT_EQ(c.call(s.h, buffer), l.serial ? c.serial : c.tcp);
        }
}

TEST(Parameters, EchoIsComparedOnlyWhereTheFunctionSaysSo) {
    // A reply with another command code: the queries and block writes refuse it, the read
    // configuration takes it over TCP; the serial link skips it for all of them.
    struct Case {
        const char* name;
        std::function<int(int, std::uint8_t*)> call;
        Bytes reply;
        int tcp;
    };
    const Case cases[] = {
        {"SysQuery", [](int h, auto* b) { return ZRSysQuery(h, 0, 1, b); }, {0x00, 0x03, 0x63, 0x00, 1},
         ZR_ERR_NO_REPLY},
        {"SysFastSet", [](int h, auto*) { return ZRSysFastSet(h, 9, 1, kData); }, {0x00, 0x02, 0x62, 0x00},
         ZR_ERR_NO_REPLY},
        {"SetReadCfg", [](int h, auto*) { return ZRSetReadCfg(h, 1, 1); }, {0x00, 0x05, 0x99, 0x00, 5, 1, 1}, ZR_OK},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + ": " + c.name);
            Session s(l);
            s.peer.reply_next(c.reply);
            std::uint8_t buffer[64] = {};
            EXPECT_EQ(c.call(s.h, buffer), l.serial ? ZR_ERR_NO_REPLY : c.tcp);
        }
}

TEST(Parameters, SerialShortReplyCopiesZerosPastItsData) {
    Session s(kLinks[0]);
    s.peer.reply_next({0x00, 0x03, 0x62, 0x00, 0x42});
    std::uint8_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), kUnset);
    EXPECT_EQ(ZRSysQuery(s.h, 0, 4, buffer), ZR_OK);
    EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{0x42, 0, 0, 0, kUnset}));
}

TEST(Parameters, FailedTcpSendResults) {
    struct Case {
        const char* name;
        std::function<int(int)> call;
        int expected;
    };
    static std::uint8_t buffer[64];
    const Case cases[] = {
        {"SysQuery", [](int h) { return ZRSysQuery(h, 0, 1, buffer); }, ZR_ERR_SEND},
        {"TagQuery", [](int h) { return ZRTagQuery(h, 0, 1, buffer); }, ZR_ERR_SEND},
        {"FreqQuery", [](int h) { return ZRFreqQuery(h, 0, 1, buffer); }, ZR_ERR_SEND},
        {"SysFastSet", [](int h) { return ZRSysFastSet(h, 0, 1, kData); }, 0},
        {"TagFastSet", [](int h) { return ZRTagFastSet(h, 0, 1, kData); }, 0},
        {"SetReadCfg", [](int h) { return ZRSetReadCfg(h, 1, 1); }, ZR_ERR_NO_REPLY},
        {"PowerSet", [](int h) { return ZRPowerSet(h, 0, 2, 1, 2); }, 0},
        {"PowerQuery", [](int h) { return ZRPowerQuery(h, 0, 2, buffer); }, ZR_ERR_SEND},
        {"PowerOn", [](int h) { return ZRPowerOn(h, 1); }, ZR_ERR_NO_REPLY},
        {"IOControlSet", [](int h) { return ZRIOControlSet(h, 1, 1); }, ZR_ERR_SEND},
        {"IOControlQuery", [](int h) { return ZRIOControlQuery(h, 1, 0); }, ZR_ERR_SEND},
        {"MACSet", [](int h) { return ZRMACSet(h, 0, 1, kData); }, 0},
        {"GetDeviceClass", [](int h) { int v; return ZRGetDeviceClass(h, &v); }, ZR_ERR_SEND},
        {"NetAddrSet", [](int h) { return ZRNetAddrSet(h, 0, "reader", "10.0.0.2", "255.0.0.0", "10.0.0.1"); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(kLinks[1]);
        s.peer.not_writable = true;
        EXPECT_EQ(c.call(s.h), c.expected);
        EXPECT_TRUE(s.peer.written.empty());
    }
}

TEST(Parameters, SysSetWritesOneFramePerByteWithCarry) {
    Session s(kLinks[0]);
    s.peer.silent_next();  // the first byte goes unanswered ...
    s.peer.reply_next({0x00, 0x02, 0x63, 0x00});
    s.peer.reply_next({0x00, 0x02, 0x63, 0x00});
    EXPECT_EQ(ZRSysSet(s.h, 0x00FF, 3, kData), ZR_OK);  // ... and only the last one counts
    ASSERT_EQ(s.peer.requests.size(), 3u);
    EXPECT_EQ(s.peer.requests[0], (Bytes{0x00, 0x04, 0x63, 0x00, 0xFF, 0xAA}));
    EXPECT_EQ(s.peer.requests[1], (Bytes{0x00, 0x04, 0x63, 0x01, 0x00, 0xBB}));
    EXPECT_EQ(s.peer.requests[2], (Bytes{0x00, 0x04, 0x63, 0x01, 0x01, 0xCC}));
    // Each reply is polled for in steps of 10 ms: ten polls for the silent one.
    std::vector<int> polls(10, 10);
    polls.push_back(10);
    polls.push_back(10);
    EXPECT_EQ(s.fake.sleeps, polls);
    EXPECT_EQ(s.command_flushes(), 0);
}

TEST(Parameters, SysSetResultIsTheLastBytesAndErrorsPause) {
    struct Case {
        const char* name;
        std::vector<Bytes> replies;  // empty payload: silent
        int last_delay_ms;
        int expected;
        std::vector<int> sleeps;
    };
    const Case cases[] = {
        {"last byte fails", {{0x00, 0x02, 0x63, 0x00}, {0x00, 0x02, 0x63, 0x05}}, 0, 1005, {10, 10, 50}},
        {"first byte fails", {{0x00, 0x02, 0x63, 0x24}, {0x00, 0x02, 0x63, 0x00}}, 0, ZR_OK, {10, 50, 10}},
        {"last byte silent", {{0x00, 0x02, 0x63, 0x00}, {}}, 0, ZR_ERR_NO_REPLY,
         {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}},
        {"a reply after 25 ms is taken", {{0x00, 0x02, 0x63, 0x00}, {0x00, 0x02, 0x63, 0x00}}, 25, ZR_OK,
         {10, 10, 10, 10}},
        {"a reply after 150 ms is not", {{0x00, 0x02, 0x63, 0x00}, {0x00, 0x02, 0x63, 0x00}}, 150, ZR_ERR_NO_REPLY,
         {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Session s(kLinks[0]);
        for (std::size_t i = 0; i < c.replies.size(); ++i) {
            if (c.replies[i].empty()) s.peer.silent_next();
            else s.peer.reply_next(c.replies[i], i + 1 == c.replies.size() ? c.last_delay_ms : 0);
        }
        EXPECT_EQ(ZRSysSet(s.h, 0x20, 2, kData), c.expected);
        EXPECT_EQ(s.peer.requests.size(), 2u);
        EXPECT_EQ(s.fake.sleeps, c.sleeps);
    }
}

TEST(Parameters, SysSetOnTcpOrWithoutBytesSendsNothing) {
    struct Case {
        const LinkCase& link;
        int count;
        int expected;
    };
    const Case cases[] = {{kLinks[1], 2, 0}, {kLinks[0], 0, 0}, {kLinks[0], -5, 0}, {kLinks[0], 53, ZR_ERR_TOO_LONG},
                          {kLinks[1], 53, ZR_ERR_TOO_LONG}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.link.type) + " count " + std::to_string(c.count));
        Session s(c.link);
        EXPECT_EQ(ZRSysSet(s.h, 0, c.count, kData), c.expected);
        EXPECT_TRUE(s.peer.written.empty());
    }
}
