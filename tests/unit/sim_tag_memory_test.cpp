// The simulator's tag memory unit behind the real library on the fake platform (virtual time,
// so the 500 ms writes cost nothing): what is written is read back, passwords authorise,
// locks refuse writes, destroyed tags are gone, a selection limits which tags answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/session.h"
#include "fake_platform.h"
#include "model.h"
#include "units/tag_memory.h"
#include "zr.h"

using namespace zr::test;
using zr::sim::ReaderModel;

namespace {

constexpr int kNoTag = 3002, kWrongPassword = 3003, kLocked = 3004, kOutOfRange = 3005, kBadRequest = 1002;
const unsigned char kAny[4] = {0, 0, 0, 0};
const unsigned char kSecret[4] = {0x5E, 0xC2, 0xE7, 0x01};
const unsigned char kKill[4] = {0xDE, 0xAD, 0xBE, 0xEF};

// A session whose peer is the reader model.
class SimSession {
public:
    explicit SimSession(const LinkCase& l) : peer(peer_of(fake, l)) {
        peer.model = &model;
        EXPECT_EQ(open_fake(fake, l.type, l.name, h), ZR_OK);
    }
    const unsigned char* id(int tag) const { return model.tags[static_cast<std::size_t>(tag)].id.data(); }
    Bytes read(int tag, int address, int n, int* result = nullptr) {
        std::vector<unsigned char> out(static_cast<std::size_t>(n) + 1, 0xEE);
        int r = ZRReadUserData(h, 1, address, n, id(tag), out.data());
        if (result) *result = r;
        if (r != ZR_OK) return {};
        return Bytes(out.begin(), out.begin() + n);
    }
    FakePlatform fake;
    ReaderModel model;
    Peer& peer;
    int h = -1;
};

}  // namespace

TEST(SimTagMemory, WhatIsWrittenIsReadBackInBytesAndWords) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        SimSession s(l);
        const unsigned char bytes[3] = {0xB1, 0xB2, 0xB3};
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 10, s.id(1), bytes, 3), ZR_OK);
        EXPECT_EQ(s.read(1, 9, 5), (Bytes{0x29, 0xB1, 0xB2, 0xB3, 0x2D}));
        EXPECT_EQ(s.read(0, 10, 3), (Bytes{0x1A, 0x1B, 0x1C}));  // other tags keep theirs

        // Word 3 is bytes 6 and 7 of the first tag in the field.
        const unsigned char words[4] = {0xC1, 0xC2, 0xC3, 0xC4};
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 3, 2, words), ZR_OK);
        EXPECT_EQ(s.read(0, 5, 6), (Bytes{0x15, 0xC1, 0xC2, 0xC3, 0xC4, 0x1A}));
    }
}

TEST(SimTagMemory, UnknownTagsAndAddressesBeyondTheMemoryAreRefused) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        SimSession s(l);
        const unsigned char stranger[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        unsigned char out[80];
        EXPECT_EQ(ZRReadUserData(s.h, 1, 0, 4, stranger, out), kNoTag);
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 0, stranger, out, 4), kNoTag);
        EXPECT_EQ(ZRLockUserData(s.h, 0, 1, stranger, 4), kNoTag);
        int r = 0;
        s.read(0, 60, 5, &r);
        EXPECT_EQ(r, kOutOfRange);
        s.read(0, 60, 4, &r);
        EXPECT_EQ(r, ZR_OK);
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 63, s.id(0), out, 2), kOutOfRange);
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 31, 2, out), kOutOfRange);
        EXPECT_EQ(ZRLockUserData(s.h, 60, 1, s.id(0), 5), kOutOfRange);
    }
}

TEST(SimTagMemory, NewEpcCodeReplacesTheOldOne) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        SimSession s(l);
        const unsigned char epc[4] = {0xE0, 0xE1, 0xE2, 0xE3};
        EXPECT_EQ(ZRSetEpcCode(s.h, 1, kAny, 4, 2, epc), ZR_OK);
        EXPECT_EQ(s.model.tags[0].epc, (Bytes{0xE0, 0xE1, 0xE2, 0xE3}));
        EXPECT_EQ(s.model.tags[1].epc.size(), 12u);
    }
}

TEST(SimTagMemory, TheVisitPasswordAuthorisesEveryPasswordCommand) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        SimSession s(l);
        // A tag without a visit password lets any password through; then only its own.
        EXPECT_EQ(ZRSetVisitPWD(s.h, 1, kKill, kSecret), ZR_OK);
        EXPECT_EQ(s.model.tags[0].visit_password, (std::array<std::uint8_t, 4>{0x5E, 0xC2, 0xE7, 0x01}));
        const unsigned char data[2] = {0xAB, 0xCD};
        unsigned char out[16];
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 0, 1, data), kWrongPassword);
        EXPECT_EQ(ZRSetEpcCode(s.h, 1, kAny, 2, 1, data), kWrongPassword);
        EXPECT_EQ(ZRSetVisitPWD(s.h, 1, kAny, kAny), kWrongPassword);
        EXPECT_EQ(ZRSetDestroyPWD(s.h, 1, kAny, kKill), kWrongPassword);
        EXPECT_EQ(ZRSetDataLocked(s.h, 1, kAny, 1, 4), kWrongPassword);
        EXPECT_EQ(s.read(0, 0, 2), (Bytes{0x10, 0x11}));
        EXPECT_EQ(ZRSetUseData(s.h, 1, kSecret, 0, 1, data), ZR_OK);
        EXPECT_EQ(s.read(0, 0, 2), (Bytes{0xAB, 0xCD}));
        // Class 1 reports the same refusal with its own status.
        s.model.device_class = 1;
        zr::core::Library::instance().set_device_class(1);
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 0, 1, data), 4003);
        EXPECT_EQ(ZRReadUserData(s.h, 1, 0, 4, s.id(0), out), ZR_OK);
        EXPECT_EQ(ZRReadUserData(s.h, 1, 62, 4, s.id(0), out), ZR_ERR_PARAMETER);  // 0x3F
    }
}

TEST(SimTagMemory, LockedRangesRefuseWritesButNotReads) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        SimSession s(l);
        EXPECT_EQ(ZRLockUserData(s.h, 8, 1, s.id(0), 4), ZR_OK);  // bytes 8..11
        const unsigned char d[4] = {1, 2, 3, 4};
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 11, s.id(0), d, 1), kLocked);
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 6, s.id(0), d, 3), kLocked);
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 5, 1, d), kLocked);  // word 5 = bytes 10, 11
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 4, s.id(0), d, 4), ZR_OK);   // 4..7
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 12, s.id(0), d, 4), ZR_OK);  // 12..15
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 8, s.id(1), d, 4), ZR_OK);   // another tag
        EXPECT_EQ(s.read(0, 8, 4), (Bytes{0x18, 0x19, 0x1A, 0x1B}));
        EXPECT_EQ(ZRLockUserData(s.h, 0, 1, s.id(0), 0), ZR_OK);  // locks nothing
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 0, s.id(0), d, 1), ZR_OK);
    }
}

TEST(SimTagMemory, RegionLocksRefuseTheirWritesUntilUnlocked) {
    struct Case {
        int region;
        bool user, epc, visit, destroy;
    };
    const Case cases[] = {
        {0, false, false, true, false}, {1, false, false, false, true}, {2, false, true, false, false},
        {3, false, false, false, false}, {4, true, false, false, false}, {5, true, true, true, true},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " region " + std::to_string(c.region));
            SimSession s(l);
            const unsigned char d[4] = {1, 2, 3, 4};
            auto check = [&](bool locked) {
                auto want = [&](bool refused) { return locked && refused ? kLocked : ZR_OK; };
                EXPECT_EQ(ZRWriteUserData(s.h, 1, 0, s.id(0), d, 2), want(c.user));
                EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 0, 1, d), want(c.user));
                EXPECT_EQ(ZRSetEpcCode(s.h, 1, kAny, 4, 2, d), want(c.epc));
                EXPECT_EQ(ZRSetDestroyPWD(s.h, 1, kAny, kKill), want(c.destroy));
                EXPECT_EQ(ZRSetVisitPWD(s.h, 1, kAny, kAny), want(c.visit));
            };
            EXPECT_EQ(ZRSetDataLocked(s.h, 1, kAny, 1, c.region), ZR_OK);
            check(true);
            EXPECT_EQ(ZRSetDataLocked(s.h, 1, kAny, 0, c.region), ZR_OK);
            check(false);
        }
}

TEST(SimTagMemory, ADestroyedTagAnswersNothingAnyMore) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        SimSession s(l);
        const unsigned char d[2] = {0, 0};
        // No destroy password set: nothing destroys the tag.
        EXPECT_EQ(ZRSetDestroyTag(s.h, 1, kAny, 1, d), kWrongPassword);
        EXPECT_EQ(ZRSetDestroyPWD(s.h, 1, kAny, kKill), ZR_OK);
        EXPECT_EQ(ZRSetDestroyTag(s.h, 1, kSecret, 1, d), kWrongPassword);
        EXPECT_FALSE(s.model.tags[0].killed);
        EXPECT_EQ(ZRSetDestroyTag(s.h, 1, kKill, 0, d), ZR_OK);
        EXPECT_TRUE(s.model.tags[0].killed);
        int r = 0;
        s.read(0, 0, 2, &r);
        EXPECT_EQ(r, kNoTag);
        EXPECT_EQ(ZRWriteUserData(s.h, 1, 0, s.id(0), d, 2), kNoTag);
        EXPECT_EQ(ZRSelectTag(s.h, 1, 1, 0, s.id(0)), kNoTag);
        // The password commands now reach the next tag in the field.
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 0, 1, d), ZR_OK);
        EXPECT_EQ(s.read(1, 0, 2), (Bytes{0, 0}));
    }
}

TEST(SimTagMemory, ASelectionLimitsWhichTagsAnswer) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        SimSession s(l);
        const unsigned char d[2] = {0x77, 0x88};
        int r = 0;
        // By identifier: only the second tag answers.
        EXPECT_EQ(ZRSelectTag(s.h, 1, 1, 0, s.id(1)), ZR_OK);
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 0, 1, d), ZR_OK);
        EXPECT_EQ(s.read(1, 0, 2), (Bytes{0x77, 0x88}));
        s.read(0, 0, 2, &r);
        EXPECT_EQ(r, kNoTag);

        // A selection that matches nothing is refused and the one in force stays.
        const unsigned char nobody[8] = {9, 9, 9, 9, 9, 9, 9, 9};
        EXPECT_EQ(ZRSelectTag(s.h, 1, 1, 0, nobody), kNoTag);
        s.read(0, 0, 2, &r);
        EXPECT_EQ(r, kNoTag);

        // By EPC, 12 bytes: the third tag.
        const auto& epc3 = s.model.tags[2].epc;
        EXPECT_EQ(ZRSelectTagEPC(s.h, 1, 1, 0, epc3.data(), 12), ZR_OK);
        EXPECT_EQ(ZRSetUseData(s.h, 1, kAny, 1, 1, d), ZR_OK);
        EXPECT_EQ(s.read(2, 2, 2), (Bytes{0x77, 0x88}));
        s.read(1, 0, 2, &r);
        EXPECT_EQ(r, kNoTag);

        // option2 counts the match bytes: a common prefix brings every tag back.
        EXPECT_EQ(ZRSelectTagEPC(s.h, 1, 1, 4, epc3.data(), 12), ZR_OK);
        EXPECT_EQ(s.read(0, 0, 1), (Bytes{0x10}));
        EXPECT_EQ(ZRSelectTag(s.h, 1, 1, 4, nobody), kNoTag);

        // option1 0 cancels; anything else but 1 is a bad request.
        EXPECT_EQ(ZRSelectTag(s.h, 1, 1, 0, s.id(2)), ZR_OK);
        EXPECT_EQ(ZRSelectTag(s.h, 1, 2, 0, s.id(0)), kBadRequest);
        EXPECT_EQ(ZRSelectTagEPC(s.h, 1, 1, 5, epc3.data(), 4), kBadRequest);
        s.read(0, 0, 2, &r);
        EXPECT_EQ(r, kNoTag);
        EXPECT_EQ(ZRSelectTagEPC(s.h, 1, 0, 0, nobody, 0), ZR_OK);
        EXPECT_FALSE(s.model.selection.active);
        EXPECT_EQ(s.read(0, 0, 1), (Bytes{0x10}));
    }
}

TEST(SimTagMemory, MalformedRequestsAreAnsweredNeverIgnored) {
    ReaderModel m;
    const Bytes requests[] = {
        {0x00, 0x01, 0x72},
        {0x00, 0x0B, 0x72, 1, 1, 2, 3, 4, 5, 6, 7, 8, 0},
        {0x00, 0x0D, 0x72, 1, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2},
        {0x00, 0x0C, 0x73, 1, 0xE2, 0, 0x34, 0x12, 1, 2, 3, 1, 0, 2},  // says 2 bytes, none come
        {0x00, 0x01, 0x74},
        {0x00, 0x06, 0x83, 1, 0, 0, 0, 0},
        {0x00, 0x07, 0x83, 1, 0, 0, 0, 0, 0},        // no words
        {0x00, 0x08, 0x83, 1, 0, 0, 0, 0, 1, 0xAA},  // one byte short
        {0x00, 0x08, 0x85, 1, 0, 0, 0, 0, 0, 1},
        {0x00, 0x09, 0x88, 1, 0, 0, 0, 0, 1, 2, 3},
        {0x00, 0x0B, 0x89, 1, 0, 0, 0, 0, 1, 2, 3, 4, 5},
        {0x00, 0x07, 0x8A, 1, 0, 0, 0, 0, 1},
        {0x00, 0x08, 0x8A, 1, 0, 0, 0, 0, 2, 0},
        {0x00, 0x08, 0x8A, 1, 0, 0, 0, 0, 1, 6},
        {0x00, 0x04, 0x8B, 1, 0, 0},
        {0x00, 0x07, 0x8B, 1, 0, 0, 0, 0, 1},  // half a word
        {0x00, 0x03, 0x70, 1, 1},
        {0x00, 0x0B, 0x70, 1, 1, 0, 1, 2, 3, 4, 5, 6, 7},
        {0x00, 0x03, 0x80, 1, 1},
        {0x00, 0x06, 0x80, 1, 1, 3, 0x30, 0x08},  // counts 3 of 2
    };
    for (const auto& req : requests) {
        SCOPED_TRACE(zr::sim::hex(req));
        auto replies = m.handle(req);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], zr::sim::reply_payload(req[2], 0x02));
    }
}

TEST(SimTagMemory, AnEmptyFieldIsANoTagStatusForEveryCommand) {
    ReaderModel m;
    for (auto& t : m.tags) t.killed = true;
    const Bytes requests[] = {
        {0x00, 0x0C, 0x72, 1, 0xE2, 0x00, 0x34, 0x12, 1, 2, 3, 1, 0, 2},
        {0x00, 0x0D, 0x73, 1, 0xE2, 0x00, 0x34, 0x12, 1, 2, 3, 1, 0, 1, 7},
        {0x00, 0x0C, 0x74, 1, 0xE2, 0x00, 0x34, 0x12, 1, 2, 3, 1, 0, 2},
        {0x00, 0x09, 0x83, 1, 0, 0, 0, 0, 1, 0xAA, 0xBB},
        {0x00, 0x0A, 0x85, 1, 0, 0, 0, 0, 0, 1, 0xAA, 0xBB},
        {0x00, 0x0A, 0x88, 1, 0, 0, 0, 0, 1, 2, 3, 4},
        {0x00, 0x0A, 0x89, 1, 0, 0, 0, 0, 1, 2, 3, 4},
        {0x00, 0x08, 0x8A, 1, 0, 0, 0, 0, 1, 4},
        {0x00, 0x06, 0x8B, 1, 1, 2, 3, 4},
        {0x00, 0x0C, 0x70, 1, 1, 0, 0xE2, 0x00, 0x34, 0x12, 1, 2, 3, 1},
        {0x00, 0x06, 0x80, 1, 1, 0, 0x30, 0x08},
    };
    for (int device_class : {3, 1}) {
        m.device_class = device_class;
        for (const auto& req : requests) {
            SCOPED_TRACE(zr::sim::hex(req));
            auto replies = m.handle(req);
            ASSERT_EQ(replies.size(), 1u);
            EXPECT_EQ(replies[0], zr::sim::reply_payload(req[2], device_class == 3 ? 0x61 : 0x91));
        }
    }
}
