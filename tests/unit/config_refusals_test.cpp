// Argument refusals of the configuration commands: settled before anything is flushed or sent.
#include "config_support.h"

using namespace zr::test;
using namespace zr::test::config;

TEST(ConfigRefusals, NothingIsFlushedOrSent) {
    static std::uint8_t buffer[300];
    static const std::uint8_t data[300] = {};
    struct Case {
        const char* name;
        std::function<int(int)> call;
        int expected;
    };
    const Case cases[] = {
        {"SysQuery length 53", [](int h) { return ZRSysQuery(h, 0, 53, buffer); }, ZR_ERR_TOO_LONG},
        {"SysQuery NULL buffer", [](int h) { return ZRSysQuery(h, 0, 0, nullptr); }, ZR_ERR_ARGUMENT},
        {"TagQuery length 253", [](int h) { return ZRTagQuery(h, 0, 253, buffer); }, ZR_ERR_ARGUMENT},
        {"TagQuery NULL buffer", [](int h) { return ZRTagQuery(h, 0, 4, nullptr); }, ZR_ERR_ARGUMENT},
        {"SysFastSet count 53", [](int h) { return ZRSysFastSet(h, 0, 53, data); }, ZR_ERR_TOO_LONG},
        {"SysFastSet count 300", [](int h) { return ZRSysFastSet(h, 0, 300, data); }, ZR_ERR_TOO_LONG},
        {"MACSet count 1000", [](int h) { return ZRMACSet(h, 0, 1000, data); }, ZR_ERR_TOO_LONG},
        {"SysFastSet count -1", [](int h) { return ZRSysFastSet(h, 0, -1, data); }, ZR_ERR_ARGUMENT},
        {"SysFastSet NULL data", [](int h) { return ZRSysFastSet(h, 0, 2, nullptr); }, ZR_ERR_ARGUMENT},
        {"TagFastSet count 252", [](int h) { return ZRTagFastSet(h, 0, 252, data); }, ZR_ERR_ARGUMENT},
        {"TagFastSet count 100000", [](int h) { return ZRTagFastSet(h, 0, 100000, data); }, ZR_ERR_ARGUMENT},
        {"TagFastSet count -1", [](int h) { return ZRTagFastSet(h, 0, -1, data); }, ZR_ERR_ARGUMENT},
        {"TagFastSet count INT_MIN", [](int h) { return ZRTagFastSet(h, 0, -2147483647 - 1, data); }, ZR_ERR_ARGUMENT},
        {"TagFastSet NULL data", [](int h) { return ZRTagFastSet(h, 0, 1, nullptr); }, ZR_ERR_ARGUMENT},
        {"SysSet count 53", [](int h) { return ZRSysSet(h, 0, 53, data); }, ZR_ERR_TOO_LONG},
        {"SysSet NULL data", [](int h) { return ZRSysSet(h, 0, 2, nullptr); }, ZR_ERR_ARGUMENT},
        {"FreqQuery length 53", [](int h) { return ZRFreqQuery(h, 0, 53, buffer); }, ZR_ERR_TOO_LONG},
        {"FreqQuery NULL buffer", [](int h) { return ZRFreqQuery(h, 0, 0, nullptr); }, ZR_ERR_ARGUMENT},
        {"SetReadCfg mode 0", [](int h) { return ZRSetReadCfg(h, 0, 1); }, ZR_ERR_PARAMETER},
        {"SetReadCfg mode 5", [](int h) { return ZRSetReadCfg(h, 5, 1); }, ZR_ERR_PARAMETER},
        {"SetReadCfg option 0", [](int h) { return ZRSetReadCfg(h, 1, 0); }, ZR_ERR_PARAMETER},
        {"SetReadCfg option 3", [](int h) { return ZRSetReadCfg(h, 1, 3); }, ZR_ERR_PARAMETER},
        {"PowerSet count 53", [](int h) { return ZRPowerSet(h, 0, 53, 1, 2); }, ZR_ERR_TOO_LONG},
        {"PowerQuery length 53", [](int h) { return ZRPowerQuery(h, 0, 53, buffer); }, ZR_ERR_TOO_LONG},
        {"PowerQuery NULL buffer", [](int h) { return ZRPowerQuery(h, 0, 2, nullptr); }, ZR_ERR_ARGUMENT},
        {"MACSet count 53", [](int h) { return ZRMACSet(h, 0, 53, data); }, ZR_ERR_TOO_LONG},
        {"MACSet count -1", [](int h) { return ZRMACSet(h, 0, -1, data); }, ZR_ERR_ARGUMENT},
        {"MACSet NULL data", [](int h) { return ZRMACSet(h, 0, 6, nullptr); }, ZR_ERR_ARGUMENT},
        {"TestModeSet mode 5", [](int h) { return ZRTestModeSet(h, 5); }, ZR_ERR_PARAMETER},
        {"GetDeviceClass NULL", [](int h) { return ZRGetDeviceClass(h, nullptr); }, ZR_ERR_ARGUMENT},
        {"SetInterfere NULL", [](int h) { return ZRSetInterfere(h, nullptr); }, ZR_ERR_ARGUMENT},
        {"GetInterfere NULL", [](int h) { return ZRGetInterfere(h, nullptr); }, ZR_ERR_ARGUMENT},
        {"GetReaderState NULL", [](int h) { return ZRGetReaderState(h, 0, nullptr); }, ZR_ERR_ARGUMENT},
        {"SetReaderTime NULL", [](int h) { return ZRSetReaderTime(h, 0, nullptr); }, ZR_ERR_ARGUMENT},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + ": " + c.name);
            Session s(l);
            EXPECT_EQ(c.call(s.h), c.expected);
            EXPECT_TRUE(s.peer.written.empty());
            EXPECT_EQ(s.peer.flushes, 0);
            EXPECT_TRUE(s.fake.sleeps.empty());
        }
}

TEST(ConfigRefusals, NoSessionComesFirst) {
    static std::uint8_t buffer[64];
    static const std::uint8_t data[64] = {};
    static int value;
    const std::function<int(int)> calls[] = {
        [](int h) { return ZRSysQuery(h, 0, 53, buffer); },     [](int h) { return ZRSysSet(h, 0, 53, data); },
        [](int h) { return ZRSysFastSet(h, 0, -1, data); },     [](int h) { return ZRTagQuery(h, 0, 1, nullptr); },
        [](int h) { return ZRTagFastSet(h, 0, 1, data); },      [](int h) { return ZRFreqQuery(h, 0, 1, buffer); },
        [](int h) { return ZRSetReadCfg(h, 0, 0); },            [](int h) { return ZRPowerOn(h, 1); },
        [](int h) { return ZRPowerOff(h); },                    [](int h) { return ZRPowerSet(h, 0, 2, 1, 1); },
        [](int h) { return ZRPowerQuery(h, 0, 2, buffer); },    [](int h) { return ZRIOControlSet(h, 1, 1); },
        [](int h) { return ZRIOControlQuery(h, 1, 0); },        [](int h) { return ZRMACSet(h, 0, 6, data); },
        [](int h) { return ZRGetDeviceClass(h, &value); },      [](int h) { return ZRTestModeSet(h, 9); },
        [](int h) { return ZRSetInterfere(h, data); },          [](int h) { return ZRGetInterfere(h, buffer); },
        [](int h) { return ZRCloseInterfere(h); },              [](int h) { return ZREpcPrintPowerOs(h, 1); },
        [](int h) { return ZRGetReaderState(h, 0, buffer); },   [](int h) { return ZRSetReaderTime(h, 0, data); },
        [](int h) { return ZRSetReaderfixNO(h, 1); },           [](int h) { return ZRGetReaderfixNO(h, nullptr); },
    };
    Session s(kLinks[0]);
    for (std::size_t i = 0; i < std::size(calls); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i](-1), ZR_ERR_NO_SESSION);
        EXPECT_EQ(calls[i](s.h + 1000), ZR_ERR_NO_SESSION);
    }
    EXPECT_TRUE(s.peer.written.empty());
    EXPECT_EQ(s.peer.flushes, 0);
}
