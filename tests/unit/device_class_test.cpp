// Device class, test mode and interference on the fake platform.
#include "config_support.h"

#include <cstring>

#include "core/session.h"

using namespace zr::test;
using namespace zr::test::config;

TEST(DeviceClass, ModelCodesSelectTheClassAndOthersAreRefused) {
    FakePlatform fake;
    auto& lib = zr::core::Library::instance();
    EXPECT_EQ(lib.device_class(), 3);
    struct Case {
        int code;
        int result;
        int class_after;
    };
    const Case cases[] = {{ZR_MODEL_CLASS1, ZR_OK, 1}, {0, ZR_ERR_MODEL, 1},      {ZR_MODEL_CLASS2, ZR_OK, 2},
                          {4, ZR_ERR_MODEL, 2},        {-1, ZR_ERR_MODEL, 2},     {0x103, ZR_ERR_MODEL, 2},
                          {ZR_MODEL_CLASS3, ZR_OK, 3}, {ZR_MODEL_CLASS1, ZR_OK, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(ZRSetDeviceClass(12345, c.code), c.result);
        EXPECT_EQ(lib.device_class(), c.class_after);
    }
}

TEST(DeviceClass, StatusMappingFollowsTheClass) {
    struct Case {
        int model;
        std::uint8_t status;
        int expected;
    };
    const Case cases[] = {{ZR_MODEL_CLASS3, 0x60, 3001}, {ZR_MODEL_CLASS1, 0x60, ZR_ERR_UNKNOWN_STATUS},
                          {ZR_MODEL_CLASS2, 0x90, 4001}, {ZR_MODEL_CLASS3, 0x90, ZR_ERR_UNKNOWN_STATUS},
                          {ZR_MODEL_CLASS1, 0x3F, ZR_ERR_PARAMETER}, {ZR_MODEL_CLASS2, 0x3A, ZR_ERR_STATUS_3A},
                          {99, 0x60, 3001}};  // refused: the class stays 3
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.model) + " status " + std::to_string(c.status));
        Session s(kLinks[0]);
        ZRSetDeviceClass(0, c.model);
        s.peer.reply_next({0x00, 0x02, 0x60, c.status});
        EXPECT_EQ(ZRPowerOn(s.h, 1), c.expected);
    }
}

TEST(DeviceClass, InterferenceCodesFollowTheClass) {
    const std::uint8_t settings[2] = {0x12, 0x34};
    struct Case {
        int model;
        std::uint8_t set, get, close;
    };
    for (const Case c : {Case{0, 0x6A, 0x6B, 0x6C}, Case{ZR_MODEL_CLASS1, 0x4B, 0x4C, 0x4D},
                         Case{ZR_MODEL_CLASS2, 0x4B, 0x4C, 0x4D}, Case{ZR_MODEL_CLASS3, 0x6A, 0x6B, 0x6C}}) {
        SCOPED_TRACE(c.model);
        Session s(kLinks[0]);  // the class set before or after the open alike
        if (c.model) ZRSetDeviceClass(0, c.model);
        std::uint8_t got[2];
        ZRSetInterfere(s.h, settings);
        ZRGetInterfere(s.h, got);
        ZRCloseInterfere(s.h);
        ASSERT_EQ(s.peer.requests.size(), 3u);
        EXPECT_EQ(s.peer.requests[0], (Bytes{0x00, 0x04, c.set, 0x12, 0x34, 0x05}));
        EXPECT_EQ(s.peer.requests[1], (Bytes{0x00, 0x02, c.get, 0x05}));
        EXPECT_EQ(s.peer.requests[2], (Bytes{0x00, 0x01, c.close}));
    }
}

TEST(DeviceClass, RequestsWaitsAndOutputs) {
    static const std::uint8_t settings[2] = {0x12, 0x34};
    run_rows({
        {"GetDeviceClass", [](int h, auto* out) { return ZRGetDeviceClass(h, reinterpret_cast<int*>(out)); },
         {0x00, 0x03, 0x62, 0x21, 0x00}, {0x00, 0x06, 0x62, 0x00, 0x01, 0x02, 0x03, 0x04}, ZR_OK,
         [] {
             int v = 0x04030201;  // reply index 4 is the least significant byte
             Bytes b(4);
             std::memcpy(b.data(), &v, 4);
             return b;
         }(),
         {200}, {100}, 1},
        {"GetDeviceClass two data bytes", [](int h, auto* out) { return ZRGetDeviceClass(h, reinterpret_cast<int*>(out)); },
         {0x00, 0x03, 0x62, 0x21, 0x00}, {0x00, 0x04, 0x62, 0x00, 0x03, 0x00}, ZR_OK,
         [] {
             int v = 3;
             Bytes b(4);
             std::memcpy(b.data(), &v, 4);
             return b;
         }(),
         {200}, {100}, 1},
        {"TestModeSet", [](int h, auto*) { return ZRTestModeSet(h, 4); }, {0x00, 0x02, 0x67, 0x04},
         {0x00, 0x02, 0x67, 0x00}, ZR_OK, {}, {50}, {50}, 1},
        {"SetInterfere", [](int h, auto*) { return ZRSetInterfere(h, settings); },
         {0x00, 0x04, 0x6A, 0x12, 0x34, 0x05}, {0x00, 0x04, 0x6A, 0x00, 0x12, 0x34}, ZR_OK, {}, {50}, {50}, 1},
        {"GetInterfere", [](int h, auto* out) { return ZRGetInterfere(h, out); }, {0x00, 0x02, 0x6B, 0x05},
         {0x00, 0x07, 0x6B, 0x00, 0x05, 0x12, 0x34, 0x01, 0x00}, ZR_OK, {0x12, 0x34}, {50}, {50}, 1},
        {"GetInterfere status 05 leaves the settings", [](int h, auto* out) { return ZRGetInterfere(h, out); },
         {0x00, 0x02, 0x6B, 0x05}, {0x00, 0x07, 0x6B, 0x05, 0, 0, 0, 0, 0}, 1005, {}, {50}, {50}, 1},
        {"CloseInterfere", [](int h, auto*) { return ZRCloseInterfere(h); }, {0x00, 0x01, 0x6C},
         {0x00, 0x04, 0x6C, 0x00, 0x00, 0x00}, ZR_OK, {}, {50}, {50}, 1},
    });
}

TEST(DeviceClass, TcpMinimumsOfTheInterferenceCommands) {
    struct Case {
        const char* name;
        std::function<int(int)> call;
        Bytes reply;
        int serial, tcp;
    };
    static const std::uint8_t settings[2] = {1, 2};
    static std::uint8_t got[2];
    const Case cases[] = {
        {"SetInterfere status only", [](int h) { return ZRSetInterfere(h, settings); }, {0x00, 0x02, 0x6A, 0x00},
         ZR_OK, ZR_ERR_NO_REPLY},
        {"CloseInterfere status only", [](int h) { return ZRCloseInterfere(h); }, {0x00, 0x02, 0x6C, 0x00}, ZR_OK,
         ZR_ERR_NO_REPLY},
        {"GetInterfere 9 bytes", [](int h) { return ZRGetInterfere(h, got); }, {0x00, 0x05, 0x6B, 0x00, 0x05, 7, 8},
         ZR_OK, ZR_ERR_NO_REPLY},
        {"GetInterfere 11 bytes", [](int h) { return ZRGetInterfere(h, got); },
         {0x00, 0x07, 0x6B, 0x00, 0x05, 7, 8, 0, 0}, ZR_OK, ZR_OK},
        {"TestModeSet status only", [](int h) { return ZRTestModeSet(h, 0); }, {0x00, 0x02, 0x67, 0x00}, ZR_OK,
         ZR_OK},
        {"GetDeviceClass status only", [](int h) { int v; return ZRGetDeviceClass(h, &v); },
         {0x00, 0x02, 0x62, 0x00}, ZR_OK, ZR_OK},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + ": " + c.name);
            Session s(l);
            s.peer.reply_next(c.reply);
            EXPECT_EQ(c.call(s.h), l.serial ? c.serial : c.tcp);
        }
}

TEST(DeviceClass, InterferenceOverTcpTakesAnyCommandCode) {
    Session s(kLinks[1]);
    const std::uint8_t settings[2] = {1, 2};
    s.peer.reply_next({0x00, 0x04, 0x11, 0x00, 0x01, 0x02});
    EXPECT_EQ(ZRSetInterfere(s.h, settings), ZR_OK);
    s.peer.reply_next({0x00, 0x07, 0x11, 0x00, 0x05, 0xAB, 0xCD, 0, 0});
    std::uint8_t got[2] = {};
    EXPECT_EQ(ZRGetInterfere(s.h, got), ZR_OK);
    EXPECT_EQ(Bytes(got, got + 2), (Bytes{0xAB, 0xCD}));
}

TEST(DeviceClass, GetInterfereOnAShortSerialReplyGivesZeros) {
    Session s(kLinks[0]);
    s.peer.reply_next({0x00, 0x03, 0x6B, 0x00, 0x05});  // no settings bytes, CRC follows
    std::uint8_t got[2] = {kUnset, kUnset};
    EXPECT_EQ(ZRGetInterfere(s.h, got), ZR_OK);
    EXPECT_EQ(Bytes(got, got + 2), (Bytes{0, 0}));
}
