// The longest a call takes, in virtual time, as api/zr.h states it: with a reader that does
// not answer, and with one that answers at once with an error status (which some commands
// follow with a pause). Both links; the longer of the two paths must equal the bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {

const unsigned char kId[8] = {1, 2, 3, 4, 5, 6, 7, 8};
const unsigned char kPwd[4] = {0, 0, 0, 0};
const unsigned char kData[256] = {};
unsigned char out[512];

struct Row {
    const char* name;
    std::uint8_t code;  // of the status reply
    std::function<int(int h)> call;
    int serial_ms, tcp_ms;  // the longest path
};

// clang-format off
const Row kRows[] = {
    {"Reset", 0x67, [](int h) { return ZRReset(h); }, 50, 110},
    {"Identify", 0x71, [](int h) { return ZRIdentify(h, 1, 0); }, 0, 0},
    {"Report", 0x71, [](int h) { return ZRReport(h, out); }, 0, 60},
    {"LongReport", 0x49, [](int h) { return ZRLongReport(h, out); }, 0, 60},
    {"EpcCodeReport", 0x81, [](int h) { return ZREpcCodeReport(h, out); }, 0, 60},
    {"GetUseDataReport", 0x84, [](int h) { return ZRGetUseDataReport(h, out); }, 0, 60},
    {"ListenReader", 0xA1, [](int h) { return ZRListenReader(h, 0, out, out + 8, out + 16); }, 100, 160},
    {"DataReturn", 0x68, [](int h) { return ZRDataReturn(h, 1, 0); }, 50, 110},
    {"CodeSending", 0x5F, [](int h) { return ZRCodeSending(h, 4, 0, kData); }, 300, 330},
    {"ConfigEASflag", 0x8C, [](int h) { return ZRConfigEASflag(h, 1, kPwd, 1); }, 50, 110},
    {"EASAlarmReport", 0x8D, [](int h) { return ZREASAlarmReport(h, out); }, 60, 70},
    {"EndEASAlarm", 0x8D, [](int h) { return ZREndEASAlarm(h, 1); }, 300, 660},
    {"ReadUserData", 0x72, [](int h) { return ZRReadUserData(h, 1, 0, 4, kId, out); }, 300, 660},
    {"WriteUserData", 0x73, [](int h) { return ZRWriteUserData(h, 1, 0, kId, kData, 4); }, 500, 560},
    {"SetEpcCode", 0x83, [](int h) { return ZRSetEpcCode(h, 1, kPwd, 12, 6, kData); }, 500, 560},
    {"ReadUserDataEPC", 0x84, [](int h) { return ZRReadUserDataEPC(h, kPwd, 0, 2, 1, out); }, 300, 660},
    {"SetUseData", 0x85, [](int h) { return ZRSetUseData(h, 1, kPwd, 0, 2, kData); }, 500, 560},
    {"SelectTag", 0x70, [](int h) { return ZRSelectTag(h, 1, 1, 0, kId); }, 50, 110},
    {"SelectTagEPC", 0x80, [](int h) { return ZRSelectTagEPC(h, 1, 1, 0, kData, 12); }, 50, 110},
    {"LockUserData", 0x74, [](int h) { return ZRLockUserData(h, 0, 1, kId, 8); }, 100, 220},
    {"SetVisitPWD", 0x88, [](int h) { return ZRSetVisitPWD(h, 1, kPwd, kPwd); }, 50, 110},
    {"SetDataLocked", 0x8A, [](int h) { return ZRSetDataLocked(h, 1, kPwd, 0, 0); }, 200, 260},
    {"SetDestroyTag", 0x8B, [](int h) { return ZRSetDestroyTag(h, 1, kPwd, 2, kData); }, 50, 110},
    {"SysQuery", 0x62, [](int h) { return ZRSysQuery(h, 0, 52, out); }, 500, 560},
    {"SysSet 52 bytes", 0x63, [](int h) { return ZRSysSet(h, 0, 52, kData); }, 5200, 0},
    {"SysFastSet", 0x63, [](int h) { return ZRSysFastSet(h, 0, 52, kData); }, 150, 110},
    {"TagQuery", 0x64, [](int h) { return ZRTagQuery(h, 0, 52, out); }, 500, 560},
    {"FreqQuery", 0x62, [](int h) { return ZRFreqQuery(h, 0, 52, out); }, 200, 160},
    {"SetReadCfg", 0x66, [](int h) { return ZRSetReadCfg(h, 1, 1); }, 50, 110},
    {"PowerOn", 0x60, [](int h) { return ZRPowerOn(h, 1); }, 50, 110},
    {"PowerOff", 0x61, [](int h) { return ZRPowerOff(h); }, 2500, 2500},
    {"PowerSet", 0x63, [](int h) { return ZRPowerSet(h, 0, 2, 1, 1); }, 150, 110},
    {"PowerQuery", 0x62, [](int h) { return ZRPowerQuery(h, 0, 2, out); }, 500, 560},
    {"IOControlSet", 0xD1, [](int h) { return ZRIOControlSet(h, 1, 1); }, 150, 110},
    {"IOControlQuery", 0xD2, [](int h) { return ZRIOControlQuery(h, 1, 0); }, 500, 560},
    {"NetAddrSet", 0x63, [](int h) { return ZRNetAddrSet(h, 0, "reader", "192.0.2.1", "255.0.0.0", "192.0.2.2"); }, 150, 110},
    {"GetDeviceClass", 0x62, [](int h) { int c = 0; return ZRGetDeviceClass(h, &c); }, 200, 160},
    {"TestModeSet", 0x67, [](int h) { return ZRTestModeSet(h, 1); }, 50, 110},
    {"SetInterfere", 0x6A, [](int h) { return ZRSetInterfere(h, out); }, 50, 110},
    {"GetInterfere", 0x6B, [](int h) { return ZRGetInterfere(h, out); }, 50, 110},
    {"CloseInterfere", 0x6C, [](int h) { return ZRCloseInterfere(h); }, 50, 110},
    {"GetReaderState", 0xA0, [](int h) { return ZRGetReaderState(h, 0, out); }, 50, 110},
    {"SetReaderTime", 0xA2, [](int h) { return ZRSetReaderTime(h, 0, kData); }, 50, 110},
    {"GetReaderfixNO", 0xA4, [](int h) { return ZRGetReaderfixNO(h, out); }, 50, 110},
};
// clang-format on

}  // namespace

TEST(TimeBounds, EachCallTakesAtMostWhatTheHeaderSays) {
    for (const auto& row : kRows)
        for (const auto& l : kLinks) {
            SCOPED_TRACE(std::string(l.type) + ": " + row.name);
            long longest = 0;
            for (bool answered : {false, true}) {
                Rig rig(l);
                if (answered) {
                    for (int i = 0; i < 60; ++i) rig.peer.reply_next({0x00, 0x06, row.code, 0x05, 0, 0, 0, 0});
                }
                const auto t0 = rig.fake.now();
                row.call(rig.h);
                longest = std::max<long>(longest, std::chrono::duration_cast<milliseconds>(rig.fake.now() - t0).count());
            }
                        EXPECT_EQ(longest, l.serial ? row.serial_ms : row.tcp_ms);
        }
}
