// Reader clock, fixed number, state and EPC print power on the fake platform.
#include "config_support.h"

using namespace zr::test;
using namespace zr::test::config;

namespace {
const Bytes kIdentity = {0x00, 0x07, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00};  // code patched per row
Bytes identity_reply(std::uint8_t code) {
    Bytes r = kIdentity;
    r[2] = code;
    return r;
}
}  // namespace

TEST(ClockState, RequestsWaitsAndOutputs) {
    static const std::uint8_t clock[6] = {26, 12, 8, 21, 30, 5};
    static std::uint8_t reserved[4] = {9, 9, 9, 9};
    run_rows({
        {"EpcPrintPowerOs", [](int h, auto*) { return ZREpcPrintPowerOs(h, 0x1FF); }, {0x00, 0x02, 0x6D, 0xFF},
         identity_reply(0x6D), ZR_OK, {}, {50}, {50}, 1},
        {"GetReaderState", [](int h, auto* out) { return ZRGetReaderState(h, 2, out); }, {0x00, 0x02, 0xA0, 0x02},
         {0x00, 0x09, 0xA0, 0x00, 0x02, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16}, ZR_OK,
         {0x11, 0x12, 0x13, 0x14, 0x15, 0x16}, {50}, {50}, 1},
        {"GetReaderState status 05", [](int h, auto* out) { return ZRGetReaderState(h, 2, out); },
         {0x00, 0x02, 0xA0, 0x02}, {0x00, 0x09, 0xA0, 0x05, 0, 0, 0, 0, 0, 0, 0}, 1005, {}, {50}, {50}, 1},
        {"GetReaderState without six state bytes",
         [](int h, auto* out) { return ZRGetReaderState(h, 2, out); }, {0x00, 0x02, 0xA0, 0x02},
         {0x00, 0x08, 0xA0, 0x00, 0x02, 0x11, 0x12, 0x13, 0x14, 0x15}, ZR_ERR_NO_REPLY, {}, {50}, {50}, 1},
        {"SetReaderTime puts value last", [](int h, auto*) { return ZRSetReaderTime(h, 0x77, clock); },
         {0x00, 0x08, 0xA2, 26, 12, 8, 21, 30, 5, 0x77}, {0x00, 0x08, 0xA2, 0x00, 26, 12, 8, 21, 30, 5}, ZR_OK, {},
         {50}, {50}, 1},
        {"SetReaderfixNO", [](int h, auto*) { return ZRSetReaderfixNO(h, 0x42); }, {0x00, 0x02, 0xA3, 0x42},
         identity_reply(0xA3), ZR_OK, {}, {50}, {50}, 1},
        {"GetReaderfixNO", [](int h, auto*) { return ZRGetReaderfixNO(h, reserved); }, {0x00, 0x01, 0xA4},
         identity_reply(0xA4), ZR_OK, {}, {50}, {50}, 1},
        {"GetReaderfixNO takes another echo", [](int h, auto*) { return ZRGetReaderfixNO(h, nullptr); },
         {0x00, 0x01, 0xA4}, identity_reply(0xA4), ZR_OK, {}, {50}, {50}, 1},
    });
    EXPECT_EQ(Bytes(reserved, reserved + 4), (Bytes{9, 9, 9, 9}));
}

TEST(ClockState, StatusRepliesAreTooShortOverTcp) {
    // Over TCP these commands want 11 bytes; over serial a 6-byte status reply is enough.
    static std::uint8_t state[6];
    static const std::uint8_t clock[6] = {26, 1, 1, 0, 0, 0};
    struct Case {
        const char* name;
        std::function<int(int)> call;
        std::uint8_t code;
    };
    const Case cases[] = {
        {"EpcPrintPowerOs", [](int h) { return ZREpcPrintPowerOs(h, 1); }, 0x6D},
        {"SetReaderTime", [](int h) { return ZRSetReaderTime(h, 0, clock); }, 0xA2},
        {"SetReaderfixNO", [](int h) { return ZRSetReaderfixNO(h, 1); }, 0xA3},
        {"GetReaderfixNO", [](int h) { return ZRGetReaderfixNO(h, nullptr); }, 0xA4},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + ": " + c.name);
            Session s(l);
            s.peer.reply_next({0x00, 0x02, c.code, 0x05});
            EXPECT_EQ(c.call(s.h), l.serial ? 1005 : ZR_ERR_NO_REPLY);
        }
    for (const auto& l : kLinks) {
        SCOPED_TRACE(std::string(l.type) + ": 10-byte reply");
        Session s(l);
        s.peer.reply_next({0x00, 0x06, 0xA3, 0x00, 1, 2, 3, 4});
        EXPECT_EQ(ZRSetReaderfixNO(s.h, 1), l.serial ? ZR_OK : ZR_ERR_NO_REPLY);
    }
    {
        SCOPED_TRACE("GetReaderState serial status 0 without data");
        Session s(kLinks[0]);
        std::fill(std::begin(state), std::end(state), kUnset);
        s.peer.reply_next({0x00, 0x02, 0xA0, 0x00});
        EXPECT_EQ(ZRGetReaderState(s.h, 0, state), ZR_ERR_NO_REPLY);
        EXPECT_EQ(Bytes(state, state + 6), Bytes(6, kUnset));
    }
}
