// Ranged arguments are judged on the whole int the caller passed: a value whose low 8 bits
// would pass (256 + n, negatives) is refused with the function's code and nothing goes out.
// On a real tag a lock or a write at a cut-down address cannot be undone.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {

const unsigned char kId[8] = {0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, 0x04};
const unsigned char kPwd[4] = {0x11, 0x22, 0x33, 0x44};
const unsigned char kData[256] = {};
unsigned char out[600];

constexpr int kSent = 0;  // a boundary value: the request goes out (result not judged)

struct Row {
    const char* name;
    std::function<int(int)> call;
    int expected;  // the refusal, or kSent
};

const Row kRows[] = {
    // Tag memory.
    {"WriteUserData length 300 (44)", [](int h) { return ZRWriteUserData(h, 1, 0, kId, kData, 300); }, ZR_ERR_ARGUMENT},
    {"WriteUserData length -1", [](int h) { return ZRWriteUserData(h, 1, 0, kId, kData, -1); }, ZR_ERR_ARGUMENT},
    {"WriteUserData length 242", [](int h) { return ZRWriteUserData(h, 1, 0, kId, kData, 242); }, kSent},
    {"ReadUserData byteCount 260 (4)", [](int h) { return ZRReadUserData(h, 1, 0, 260, kId, out); }, ZR_ERR_ARGUMENT},
    {"ReadUserData byteCount -1", [](int h) { return ZRReadUserData(h, 1, 0, -1, kId, out); }, ZR_ERR_ARGUMENT},
    {"ReadUserData byteCount 255", [](int h) { return ZRReadUserData(h, 1, 0, 255, kId, out); }, kSent},
    {"SetEpcCode epcLength 256 (0)", [](int h) { return ZRSetEpcCode(h, 1, kPwd, 256, 2, kData); }, ZR_ERR_ADDRESS},
    {"SetEpcCode epcLength -256 (0)", [](int h) { return ZRSetEpcCode(h, 1, kPwd, -256, 2, kData); }, ZR_ERR_ADDRESS},
    {"SetEpcCode epcLength before NULL", [](int h) { return ZRSetEpcCode(h, 1, nullptr, 256, 2, kData); },
     ZR_ERR_ADDRESS},
    {"SetEpcCode wordCount 258 (2)", [](int h) { return ZRSetEpcCode(h, 1, kPwd, 4, 258, kData); }, ZR_ERR_ARGUMENT},
    {"SetEpcCode wordCount -1", [](int h) { return ZRSetEpcCode(h, 1, kPwd, 4, -1, kData); }, ZR_ERR_ARGUMENT},
    {"SetEpcCode 123 words", [](int h) { return ZRSetEpcCode(h, 1, kPwd, 12, 123, kData); }, kSent},
    {"ReadUserDataEPC wordCount 258 (2)", [](int h) { return ZRReadUserDataEPC(h, kPwd, 0, 258, 1, out); },
     ZR_ERR_ARGUMENT},
    {"ReadUserDataEPC wordCount -1", [](int h) { return ZRReadUserDataEPC(h, kPwd, 0, -1, 1, out); }, ZR_ERR_ARGUMENT},
    {"ReadUserDataEPC wordCount 255", [](int h) { return ZRReadUserDataEPC(h, kPwd, 0, 255, 1, out); }, kSent},
    {"SetUseData wordCount 257 (1)", [](int h) { return ZRSetUseData(h, 1, kPwd, 0, 257, kData); }, ZR_ERR_ARGUMENT},
    {"SetUseData wordCount -1", [](int h) { return ZRSetUseData(h, 1, kPwd, 0, -1, kData); }, ZR_ERR_ARGUMENT},
    {"SetUseData 123 words", [](int h) { return ZRSetUseData(h, 1, kPwd, 0, 123, kData); }, kSent},
    // Selection, locks and kill.
    {"SelectTagEPC length 256 (0)", [](int h) { return ZRSelectTagEPC(h, 1, 1, 0, kData, 256); }, ZR_ERR_ARGUMENT},
    {"SelectTagEPC length -1", [](int h) { return ZRSelectTagEPC(h, 1, 1, 0, kData, -1); }, ZR_ERR_ARGUMENT},
    {"SelectTagEPC length 250", [](int h) { return ZRSelectTagEPC(h, 1, 1, 0, kData, 250); }, kSent},
    {"LockUserData address 256 (0)", [](int h) { return ZRLockUserData(h, 256, 1, kId, 8); }, ZR_ERR_RANGE},
    {"LockUserData address -8", [](int h) { return ZRLockUserData(h, -8, 1, kId, 16); }, ZR_ERR_RANGE},
    {"LockUserData length -1", [](int h) { return ZRLockUserData(h, 0, 1, kId, -1); }, ZR_ERR_RANGE},
    {"LockUserData sum overflows", [](int h) { return ZRLockUserData(h, INT_MAX, 1, kId, INT_MAX); }, ZR_ERR_RANGE},
    {"LockUserData range before NULL", [](int h) { return ZRLockUserData(h, 256, 1, nullptr, 8); }, ZR_ERR_RANGE},
    {"LockUserData 200 + 24", [](int h) { return ZRLockUserData(h, 200, 1, kId, 24); }, kSent},
    {"SetDataLocked mode 256 (0)", [](int h) { return ZRSetDataLocked(h, 1, kPwd, 256, 0); }, ZR_ERR_PARAMETER},
    {"SetDataLocked mode -1", [](int h) { return ZRSetDataLocked(h, 1, kPwd, -1, 0); }, ZR_ERR_PARAMETER},
    {"SetDataLocked region 261 (5)", [](int h) { return ZRSetDataLocked(h, 1, kPwd, 0, 261); }, ZR_ERR_PARAMETER},
    {"SetDestroyTag wordCount 257 (1)", [](int h) { return ZRSetDestroyTag(h, 1, kPwd, 257, kData); }, ZR_ERR_ARGUMENT},
    {"SetDestroyTag wordCount -1", [](int h) { return ZRSetDestroyTag(h, 1, kPwd, -1, kData); }, ZR_ERR_ARGUMENT},
    {"SetDestroyTag 124 words", [](int h) { return ZRSetDestroyTag(h, 1, kPwd, 124, kData); }, kSent},
    // Inventory start, data return, code sending.
    {"GetUseData address 256 (0)", [](int h) { return ZRGetUseData(h, kPwd, 256, 1, 0); }, ZR_ERR_ADDRESS},
    {"GetUseData address -1", [](int h) { return ZRGetUseData(h, kPwd, -1, 1, 0); }, ZR_ERR_ADDRESS},
    {"GetUseData address before NULL", [](int h) { return ZRGetUseData(h, nullptr, 256, 1, 0); }, ZR_ERR_ADDRESS},
    {"GetUseData wordCount 257 (1)", [](int h) { return ZRGetUseData(h, kPwd, 0, 257, 0); }, ZR_ERR_RANGE},
    {"GetUseData wordCount -1", [](int h) { return ZRGetUseData(h, kPwd, 14, -1, 0); }, ZR_ERR_RANGE},
    {"GetUseData wordCount INT_MAX", [](int h) { return ZRGetUseData(h, kPwd, 0, INT_MAX, 0); }, ZR_ERR_RANGE},
    {"GetUseData 14 + 7 words", [](int h) { return ZRGetUseData(h, kPwd, 14, 7, 0); }, kSent},
    {"DataReturn option 256 (0)", [](int h) { return ZRDataReturn(h, 1, 256); }, ZR_ERR_PARAMETER},
    {"DataReturn option -1", [](int h) { return ZRDataReturn(h, 1, -1); }, ZR_ERR_PARAMETER},
    {"CodeSending length 257 (1)", [](int h) { return ZRCodeSending(h, 257, 0, kData); }, ZR_ERR_ARGUMENT},
    // Parameter areas, power, device class.
    {"SysQuery length 257 (1)", [](int h) { return ZRSysQuery(h, 0, 257, out); }, ZR_ERR_TOO_LONG},
    {"SysQuery length -1", [](int h) { return ZRSysQuery(h, 0, -1, out); }, ZR_ERR_ARGUMENT},
    {"SysQuery length before NULL", [](int h) { return ZRSysQuery(h, 0, 257, nullptr); }, ZR_ERR_TOO_LONG},
    {"SysQuery address 256 (0)", [](int h) { return ZRSysQuery(h, 256, 4, out); }, ZR_ERR_ARGUMENT},
    {"SysQuery address -1", [](int h) { return ZRSysQuery(h, -1, 4, out); }, ZR_ERR_ARGUMENT},
    {"SysQuery address 255, 52 bytes", [](int h) { return ZRSysQuery(h, 255, 52, out); }, kSent},
    {"TagQuery length 257 (1)", [](int h) { return ZRTagQuery(h, 0, 257, out); }, ZR_ERR_ARGUMENT},
    {"TagQuery length -1", [](int h) { return ZRTagQuery(h, 0, -1, out); }, ZR_ERR_ARGUMENT},
    {"TagQuery address 256 (0)", [](int h) { return ZRTagQuery(h, 256, 4, out); }, ZR_ERR_ARGUMENT},
    {"TagQuery address 255, 252 bytes", [](int h) { return ZRTagQuery(h, 255, 252, out); }, kSent},
    {"FreqQuery length 257 (1)", [](int h) { return ZRFreqQuery(h, 0, 257, out); }, ZR_ERR_TOO_LONG},
    {"FreqQuery length -1", [](int h) { return ZRFreqQuery(h, 0, -1, out); }, ZR_ERR_ARGUMENT},
    {"SysSet count 308 (52)", [](int h) { return ZRSysSet(h, 0, 308, kData); }, ZR_ERR_TOO_LONG},
    {"SysSet address -1", [](int h) { return ZRSysSet(h, -1, 1, kData); }, ZR_ERR_ARGUMENT},
    {"SysSet past 0xFFFF", [](int h) { return ZRSysSet(h, 0xFFFF, 2, kData); }, ZR_ERR_ARGUMENT},
    {"SysSet address 0x10000", [](int h) { return ZRSysSet(h, 0x10000, 1, kData); }, ZR_ERR_ARGUMENT},
    {"SysFastSet count 308 (52)", [](int h) { return ZRSysFastSet(h, 0, 308, kData); }, ZR_ERR_TOO_LONG},
    {"TagFastSet count 257 (1)", [](int h) { return ZRTagFastSet(h, 0, 257, kData); }, ZR_ERR_ARGUMENT},
    {"MACSet count 262 (6)", [](int h) { return ZRMACSet(h, 0, 262, kData); }, ZR_ERR_TOO_LONG},
    {"PowerSet count 258 (2)", [](int h) { return ZRPowerSet(h, 0, 258, 1, 2); }, ZR_ERR_TOO_LONG},
    {"PowerQuery length 258 (2)", [](int h) { return ZRPowerQuery(h, 0, 258, out); }, ZR_ERR_TOO_LONG},
    {"SetReadCfg readMode 257 (1)", [](int h) { return ZRSetReadCfg(h, 257, 1); }, ZR_ERR_PARAMETER},
    {"SetReadCfg readMode -255 (1)", [](int h) { return ZRSetReadCfg(h, -255, 1); }, ZR_ERR_PARAMETER},
    {"SetReadCfg readOption 258 (2)", [](int h) { return ZRSetReadCfg(h, 1, 258); }, ZR_ERR_PARAMETER},
    {"TestModeSet mode 256 (0)", [](int h) { return ZRTestModeSet(h, 256); }, ZR_ERR_PARAMETER},
    {"TestModeSet mode -1", [](int h) { return ZRTestModeSet(h, -1); }, ZR_ERR_PARAMETER},
};

}  // namespace

TEST(ArgumentRange, WholeIntsAreJudgedBeforeAnythingIsSent) {
    for (const auto& l : kLinks)
        for (const auto& row : kRows) {
            SCOPED_TRACE(std::string(l.type) + ": " + row.name);
            Rig rig(l);
            const int result = row.call(rig.h);
            if (row.expected == kSent) {
                EXPECT_EQ(rig.peer.requests.size(), 1u);
                continue;
            }
            EXPECT_EQ(result, row.expected);
            EXPECT_TRUE(rig.peer.written.empty());
            EXPECT_EQ(rig.peer.flushes, 0);
            EXPECT_TRUE(rig.fake.sleeps.empty());
        }
}
