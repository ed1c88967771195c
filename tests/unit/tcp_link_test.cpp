// The TCP link on the fake platform: frames found in the stream, minimum lengths, which
// frames a receive takes, draining before a send, a lost connection.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "link/tcp_link.h"

using namespace zr::test;
using zr::link::Expect;
using zr::link::ReplyBuffer;
using zr::link::TcpLink;

namespace {

struct TcpFixture : ::testing::Test {
    FakePlatform fake;
    Peer& peer = fake.tcp("192.0.2.1");
    std::unique_ptr<TcpLink> link = std::make_unique<TcpLink>(fake.open_tcp(0xC0000201, 7086));
    ReplyBuffer dest{};
    int receive(int min = 4, Expect expect = {0x67, Expect::Tcp::any_code}) {
        expect.min_length = min;
        return link->receive_frame(dest, expect, fake.now() + milliseconds(60));
    }
    int send(const Bytes& payload) { return link->send_frame(payload, true); }
};

const Bytes kStatus{0x00, 0x02, 0x67, 0x00};

}  // namespace

TEST_F(TcpFixture, AFrameInPiecesIsAssembled) {
    auto wire = zr::sim::with_crc({0x00, 0x04, 0x71, 0x00, 0xAA, 0xBB});
    peer.send_raw({wire[0], wire[1]});
    peer.send_raw({wire[2]}, 1);
    peer.send_raw(Bytes(wire.begin() + 3, wire.end()), 3);
    ASSERT_EQ(receive(), 8);
    EXPECT_EQ(Bytes(dest.begin(), dest.begin() + 8), wire);
}

TEST_F(TcpFixture, AFrameCompletedLaterIsKeptAcrossCalls) {
    auto wire = zr::sim::with_crc(kStatus);
    peer.send_raw({wire[0]});
    peer.send_raw(Bytes(wire.begin() + 1, wire.end()), 500);  // long after this receive gives up
    EXPECT_EQ(receive(), 0);
    fake.advance(milliseconds(500));
    EXPECT_EQ(receive(), 6);
}

TEST_F(TcpFixture, MinimumLengthAndLimits) {
    struct Case {
        const char* name;
        Bytes wire;
        int min;
        int result;
    };
    Bytes big(99, 0);  // LEN 97: a 101-byte frame, one more than the receive takes
    big[0] = 0x00;
    big[1] = 97;
    big[2] = 0x71;
    const Case cases[] = {
        {"6 bytes satisfy a minimum of 4", zr::sim::with_crc(kStatus), 4, 6},
        {"6 bytes do not satisfy a minimum of 6", zr::sim::with_crc(kStatus), 6, 0},
        {"bad CRC", [] { auto w = zr::sim::with_crc(kStatus); w[5] ^= 1; return w; }(), 4, 0},
        {"over 100 bytes", zr::sim::with_crc(big), 4, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.send_raw(c.wire);
        EXPECT_EQ(receive(c.min), c.result);
        fake.advance(milliseconds(100));
    }
    // After all that, the link still reads a good frame.
    peer.send(kStatus);
    EXPECT_EQ(receive(), 6);
}

TEST_F(TcpFixture, AFrameBiggerThanTheBufferIsSkippedWithoutOverrun) {
    Bytes huge{0x10, 0x00, 0x71, 0x00};  // LEN 4096: more than the 1024-byte frame buffer
    huge.resize(4096 + 4, 0xEE);
    peer.send_raw(huge);
    int r = 1;
    for (int i = 0; i < 200 && r != 6; ++i) {
        r = receive();
        if (i == 0) peer.send(kStatus, 10);
        EXPECT_TRUE(r == 0 || r == 6);
    }
    EXPECT_EQ(r, 6);
}

TEST_F(TcpFixture, NothingWaitingCostsTheReceiveWindow) {
    auto t0 = fake.now();
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(fake.now() - t0, milliseconds(60));
}

TEST_F(TcpFixture, LateRepliesAreDiscardedBeforeTheNextSendWithoutWaiting) {
    // A reply that came too late for its command is waiting; the next command must see its own.
    send(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(receive(), 0);  // nothing yet: the reply is owed
    peer.send({0x00, 0x02, 0x67, 0x05});
    auto t0 = fake.now();
    send(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(fake.now(), t0) << "a reply already here is dropped without waiting";
    peer.send(kStatus);
    ASSERT_EQ(receive(), 6);
    EXPECT_EQ(dest[3], 0x00);
}

TEST_F(TcpFixture, AnOwedReplyIsWaitedForOnlyWhileOutstanding) {
    send(Bytes{0x00, 0x01, 0x67});  // its reply is never read
    ASSERT_EQ(link->owed(), 0x67);
    auto t0 = fake.now();
    send(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(fake.now() - t0, milliseconds(250)) << "one wait for the owed reply, then the send";
    peer.send(kStatus);
    ASSERT_EQ(receive(), 6);
    EXPECT_FALSE(link->owed());
    t0 = fake.now();
    send(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(fake.now(), t0) << "no reply owed: no drain wait";
}

TEST_F(TcpFixture, SendContinuesAfterPartialSendsAndFailures) {
    peer.send_limit = 2;
    peer.failing_writes = 3;
    EXPECT_EQ(send(Bytes{0x00, 0x03, 0x71, 0x01, 0x00}), 7);
    EXPECT_EQ(peer.written, (Bytes{0x00, 0x03, 0x71, 0x01, 0x00, 0xBC, 0xD7}));
    peer.failing_writes = 1000;
    EXPECT_EQ(send(Bytes{0x00, 0x01, 0x61}), 0);
}

TEST_F(TcpFixture, APeerThatHangsUpIsLostUntilReopened) {
    peer.send_raw({0x00, 0x02, 0x67});
    peer.hang_up = true;
    EXPECT_EQ(receive(), 0);
    EXPECT_TRUE(link->lost());
    EXPECT_EQ(send(Bytes{0x00, 0x01, 0x67}), 0) << "never a count for a frame that did not go out";
    EXPECT_EQ(receive(), 0);
}

TEST_F(TcpFixture, StrayBytesCostNoMoreThanThemselves) {
    const Bytes reply = zr::sim::with_crc({0x00, 0x03, 0x62, 0x00, 0x2A});
    auto after = [&](Bytes prefix) {
        prefix.insert(prefix.end(), reply.begin(), reply.end());
        return prefix;
    };
    auto bad_crc = zr::sim::with_crc(kStatus);
    bad_crc.back() ^= 1;
    struct Case {
        const char* name;
        Bytes wire;
    };
    const Case cases[] = {
        {"five garbage bytes", after({0x13, 0x37, 0xFF, 0x00, 0x42})},
        {"a single stray byte", after({0x00})},
        {"a length no reply has", after({0x7F, 0xFF, 0x62})},
        {"a length that claims more than comes", after({0x00, 0x40, 0x62, 0x00})},
        {"a frame with a bad CRC", after(bad_crc)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.send_raw(c.wire);
        ASSERT_EQ(receive(4, Expect{0x62}), static_cast<int>(reply.size()));
        EXPECT_EQ(Bytes(dest.begin(), dest.begin() + reply.size()), reply);
        fake.advance(milliseconds(100));
    }
}

TEST_F(TcpFixture, AHalfFrameLeftOverIsForgottenAtTheNextSend) {
    peer.send_raw({0x00, 0x09, 0x81, 0x00});  // the start of a report whose rest never came
    EXPECT_EQ(receive(), 0);
    send(Bytes{0x00, 0x01, 0x67});
    peer.send(kStatus);
    ASSERT_EQ(receive(4, Expect{0x67}), 6);
    EXPECT_EQ(dest[2], 0x67);
}

TEST_F(TcpFixture, AReceiveTakesOnlyWhatItExpects) {
    const Bytes report{0x00, 0x05, 0x81, 0x00, 0x30, 0x00, 0x01};
    const Bytes other{0x00, 0x02, 0x62, 0x00};
    struct Case {
        const char* name;
        Bytes first;
        Expect expect;
        std::uint8_t taken;  // code of the frame taken
    };
    const Case cases[] = {
        {"same code: a report is skipped", report, {0x67}, 0x67},
        {"same code: another reply is skipped", other, {0x67}, 0x67},
        {"no echo test: a report is still skipped", report, {0x67, Expect::Tcp::not_reports}, 0x67},
        {"no echo test: another reply is taken", other, {0x67, Expect::Tcp::not_reports}, 0x62},
        {"any code: a report is taken", report, {0x67, Expect::Tcp::any_code}, 0x81},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.send(c.first);
        peer.send(kStatus, 5);
        ASSERT_GT(receive(4, c.expect), 0);
        EXPECT_EQ(dest[2], c.taken);
        fake.advance(milliseconds(100));
        send(Bytes{0x00, 0x01, 0x67});  // drops whatever is left
    }
}
