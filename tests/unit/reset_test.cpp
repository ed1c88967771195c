// ZRReset on the fake platform: exact bytes on the wire, exact waits, results.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {



// A session on the link's fake peer; the reply to the next request is scripted.
int open_with_reply(FakePlatform& fake, const LinkCase& l, const Bytes& reply) {
    auto& peer = peer_of(fake, l);
    int h = -1;
    EXPECT_EQ(open_fake(fake, l.type, l.name, h), ZR_OK);
    peer.reply_next(reply);
    return h;
}

}  // namespace

TEST(Reset, SendsThreeBytesWaitsFiftyAndMapsTheStatus) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        FakePlatform fake;
        auto& peer = peer_of(fake, l);
        int h = open_with_reply(fake, l, {0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
        fake.sleeps.clear();
        EXPECT_EQ(ZRReset(h), ZR_OK);
        ASSERT_EQ(peer.requests.size(), 1u);
        EXPECT_EQ(peer.requests[0], (Bytes{0x00, 0x01, 0x67}));
        EXPECT_EQ(peer.written, l.serial ? (Bytes{0x55, 0x00, 0x01, 0x67, 0x07, 0x52})
                                                             : (Bytes{0x00, 0x01, 0x67, 0x07, 0x52}));
        EXPECT_EQ(fake.sleeps, std::vector<int>{50});
    }
}

TEST(Reset, StatusReplyIsTooShortOverTcpButEnoughOverSerial) {
    // Over TCP a reset reply must bring at least 8 bytes.
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        FakePlatform fake;
        int h = open_with_reply(fake, l, {0x00, 0x02, 0x67, 0x00});
        EXPECT_EQ(ZRReset(h), l.serial ? ZR_OK : ZR_ERR_NO_REPLY);
    }
}

// Each result with the cause ZRLastCause gives for it.
TEST(Reset, RepliesThatAreNotAcceptedGiveNoReply) {
    struct Case {
        const char* name;
        Bytes reply;
        int serial, tcp;
        const char* cause;
    };
    const Case cases[] = {
        {"status 01", {0x00, 0x04, 0x67, 0x01, 0, 0}, 1001, 1001, "reader status 0x01: unknown command"},
        {"status 60 in class 3", {0x00, 0x04, 0x67, 0x60, 0, 0}, 3001, 3001, "reader status 0x60"},
        {"status 6A, which no table lists", {0x00, 0x04, 0x67, 0x6A, 0, 0}, -20, -20,
         "reader status 0x6A to RESET/TEST_MODE (0x67) is not listed for device class 3"},
        {"other command", {0x00, 0x04, 0x68, 0x00, 0, 0}, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY,
         "no reply to RESET/TEST_MODE (0x67); reply discarded: another command's: code 0x68 DATA_RETURN"},
        {"a report", {0x00, 0x04, 0x81, 0x00, 0, 0}, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY,
         "no reply to RESET/TEST_MODE (0x67); reply discarded as a report: code 0x81 IDENTIFY_EPC"},
        // Serial takes the short frame and refuses it; TCP skips bytes that cannot be a reply.
        {"length 5", {0x00, 0x01, 0x67}, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, "no "},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            FakePlatform fake;
            int h = open_with_reply(fake, l, c.reply);
            EXPECT_EQ(ZRReset(h), l.serial ? c.serial : c.tcp);
            EXPECT_EQ(std::string(ZRLastCause()).rfind(c.cause, 0), 0u) << ZRLastCause();
        }
}

TEST(Reset, RefusedWithoutSessionAndSendsNothing) {
    FakePlatform fake;
    auto& peer = fake.serial("COM3");
    int h;
    ASSERT_EQ(open_fake(fake, "COM", "COM3", h), ZR_OK);
    EXPECT_EQ(ZRReset(-1), ZR_ERR_NO_SESSION);
    EXPECT_EQ(ZRReset(0), ZR_ERR_NO_SESSION);
    EXPECT_EQ(ZRReset(h + 1000), ZR_ERR_NO_SESSION);
    int stale = h;
    ASSERT_EQ(ZRClose(&h), ZR_OK);
    EXPECT_EQ(ZRReset(stale), ZR_ERR_NO_SESSION);
    EXPECT_TRUE(peer.written.empty());
    EXPECT_EQ(peer.flushes, 0);
}
