// Tag memory, selection, passwords, locks and kill: the shared library against zrsim over real
// loopback TCP and a real pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "sim_fixture.h"
#include "zr.h"

using namespace zr::test;
using zr::sim::Fault;
using zr::sim::FaultKind;

namespace {

// Status bytes of the simulator's tag errors in device class 3.
constexpr int kNoTag = 3002, kWrongPassword = 3003, kLocked = 3004;
const unsigned char kAny[4] = {0, 0, 0, 0};
const unsigned char kSecret[4] = {0x5E, 0xC2, 0xE7, 0x01};
const unsigned char kKill[4] = {0xDE, 0xAD, 0xBE, 0xEF};

class TagMemoryE2E : public BothLinks {
protected:
    std::array<unsigned char, 8> id(std::size_t tag) {
        return host.sim().with_model([&](auto& m) { return m.tags[tag].id; });
    }
    std::vector<unsigned char> epc(std::size_t tag) {
        return host.sim().with_model([&](auto& m) { return m.tags[tag].epc; });
    }
    // After a faulty reply the next exchange must work at once.
    void expect_usable() {
        unsigned char out[2];
        EXPECT_EQ(ZRReadUserData(handle, 1, 0, 2, id(0).data(), out), ZR_OK);
    }
};

}  // namespace

TEST_P(TagMemoryE2E, WrittenBytesAreReadBackUntilTheRangeIsLocked) {
    const auto tag = id(0);
    const unsigned char data[4] = {0xCA, 0xFE, 0xBA, 0xBE};
    EXPECT_EQ(ZRWriteUserData(handle, 1, 20, tag.data(), data, 4), ZR_OK);
    unsigned char out[6] = {};
    ASSERT_EQ(ZRReadUserData(handle, 1, 19, 6, tag.data(), out), ZR_OK);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 6), (std::vector<unsigned char>{0x23, 0xCA, 0xFE, 0xBA, 0xBE, 0x28}));

    EXPECT_EQ(ZRLockUserData(handle, 20, 1, tag.data(), 4), ZR_OK);
    const unsigned char other[2] = {0, 0};
    EXPECT_EQ(ZRWriteUserData(handle, 1, 22, tag.data(), other, 2), kLocked);
    ASSERT_EQ(ZRReadUserData(handle, 1, 20, 4, tag.data(), out), ZR_OK);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 4), (std::vector<unsigned char>{0xCA, 0xFE, 0xBA, 0xBE}));
}

TEST_P(TagMemoryE2E, WordsWrittenUnderAPasswordAreReadBackInWords) {
    const unsigned char words[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(ZRSetUseData(handle, 1, kAny, 4, 2, words), ZR_OK);  // bytes 8..11 of the first tag
    unsigned char out[9] = {};
    ASSERT_EQ(ZRReadUserDataEPC(handle, kAny, 4, 2, 1, out), ZR_OK);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 9),
              (std::vector<unsigned char>{0x00, 0x07, 0x84, 0x00, 0x02, 0x12, 0x34, 0x56, 0x78}));
    unsigned char bytes[4] = {};
    ASSERT_EQ(ZRReadUserData(handle, 1, 8, 4, id(0).data(), bytes), ZR_OK);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4), (std::vector<unsigned char>{0x12, 0x34, 0x56, 0x78}));
}

TEST_P(TagMemoryE2E, ANewEpcCodeReachesTheTag) {
    const unsigned char code[8] = {0x30, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    EXPECT_EQ(ZRSetEpcCode(handle, 1, kAny, 8, 4, code), ZR_OK);
    EXPECT_EQ(epc(0), std::vector<unsigned char>(code, code + 8));
}

TEST_P(TagMemoryE2E, AChangedPasswordAndARegionLockGuardTheTag) {
    EXPECT_EQ(ZRSetVisitPWD(handle, 1, kAny, kSecret), ZR_OK);
    const unsigned char words[2] = {0xAA, 0x55};
    EXPECT_EQ(ZRSetUseData(handle, 1, kAny, 0, 1, words), kWrongPassword);
    EXPECT_EQ(ZRSetDataLocked(handle, 1, kSecret, 1, 4), ZR_OK);  // user memory
    EXPECT_EQ(ZRSetUseData(handle, 1, kSecret, 0, 1, words), kLocked);
    EXPECT_EQ(ZRWriteUserData(handle, 1, 0, id(0).data(), words, 2), kLocked);
}

TEST_P(TagMemoryE2E, ASelectedTagIsDestroyedAndAnswersNoMore) {
    const auto second = id(1);
    EXPECT_EQ(ZRSelectTag(handle, 1, 1, 0, second.data()), ZR_OK);
    EXPECT_EQ(ZRSetDestroyPWD(handle, 1, kAny, kKill), ZR_OK);  // reaches the selected tag only
    const unsigned char none[2] = {0, 0};
    EXPECT_EQ(ZRSetDestroyTag(handle, 1, kSecret, 1, none), kWrongPassword);
    EXPECT_EQ(ZRSetDestroyTag(handle, 1, kKill, 1, none), ZR_OK);
    EXPECT_TRUE(host.sim().with_model([](auto& m) { return m.tags[1].killed && !m.tags[0].killed; }));

    unsigned char out[4];
    EXPECT_EQ(ZRReadUserData(handle, 1, 0, 4, second.data(), out), kNoTag);
    const auto third = epc(2);
    EXPECT_EQ(ZRSelectTagEPC(handle, 1, 1, 0, third.data(), static_cast<int>(third.size())), ZR_OK);
    EXPECT_EQ(ZRReadUserData(handle, 1, 0, 4, id(2).data(), out), ZR_OK);
    EXPECT_EQ(ZRReadUserData(handle, 1, 0, 4, id(0).data(), out), kNoTag);
}

TEST_P(TagMemoryE2E, FaultyRepliesLeaveTheBufferAloneAndTheLinkRecovers) {
    struct Case {
        const char* name;
        Fault fault;
    };
    const Case cases[] = {
        {"bad crc", {FaultKind::bad_crc, 0, 0, 1}},
        {"oversize length", {FaultKind::oversize, 40, 0, 1}},
    };
    const auto tag = id(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char out[16];
        std::fill(std::begin(out), std::end(out), 0xEE);
        host.sim().set_fault(0x72, c.fault);
        EXPECT_EQ(ZRReadUserData(handle, 1, 0, 4, tag.data(), out), ZR_ERR_NO_REPLY);
        EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](auto b) { return b == 0xEE; }));
        expect_usable();
    }
    for (auto kind : {FaultKind::wrong_echo, FaultKind::drop}) {
        host.sim().set_fault(0x88, {kind, 0, 0, 1});
        EXPECT_EQ(ZRSetVisitPWD(handle, 1, kAny, kAny), ZR_ERR_NO_REPLY);
        expect_usable();
    }
}

TEST_P(TagMemoryE2E, WithoutAReplyEachFunctionGivesItsOwnResult) {
    const auto tag = id(0);
    host.sim().set_fault(0x84, {FaultKind::drop, 0, 0, 1});
    unsigned char out[16];
    EXPECT_EQ(ZRReadUserDataEPC(handle, kAny, 0, 2, 1, out), 0);
    host.sim().set_fault(0x74, {FaultKind::drop, 0, 0, 1});
    EXPECT_EQ(ZRLockUserData(handle, 0, 1, tag.data(), 2), ZR_ERR_RANGE);
    host.sim().set_fault(0x83, {FaultKind::drop, 0, 0, 1});
    const unsigned char code[4] = {1, 2, 3, 4};
    EXPECT_EQ(ZRSetEpcCode(handle, 1, kAny, 4, 2, code), serial() ? 13 : 15);  // sent, not confirmed
    expect_usable();
}

INSTANTIATE_TEST_SUITE_P(Links, TagMemoryE2E, ::testing::Values("tcp", "serial"), link_name);

TEST(TagMemoryE2ETcp, APeerThatHangsUpGivesNoReplyAndTouchesNothing) {
    SimHost host;
    int h = -1;
    ASSERT_EQ(ZROpen(&h, host.ini().c_str(), "tcp"), ZR_OK);
    const auto tag = host.sim().with_model([](auto& m) { return m.tags[0].id; });
    host.sim().set_fault(0x72, {FaultKind::close, 0, 0, 1});
    unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(ZRReadUserData(h, 1, 0, 4, tag.data(), out), ZR_ERR_NO_REPLY);
    EXPECT_EQ(ZRSetVisitPWD(h, 1, kAny, kAny), ZR_ERR_NO_REPLY);
    EXPECT_TRUE(std::all_of(std::begin(out), std::end(out), [](auto b) { return b == 0xEE; }));
    int r = ZRClose(&h);
    EXPECT_TRUE(r == ZR_OK || r == ZR_CLOSE_FAILED) << r;
    EXPECT_EQ(h, -1);
}
