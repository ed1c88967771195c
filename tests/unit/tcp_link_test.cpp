// The TCP link on the fake platform: resumable frame reading, minimum lengths, draining.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "link/tcp_link.h"

using namespace zr::test;
using zr::link::ReplyBuffer;
using zr::link::TcpLink;

namespace {

struct TcpFixture : ::testing::Test {
    FakePlatform fake;
    Peer& peer = fake.tcp("192.0.2.1");
    std::unique_ptr<TcpLink> link = std::make_unique<TcpLink>(fake.open_tcp(0xC0000201, 7086));
    ReplyBuffer dest{};
    int receive(int min = 4) { return link->receive_frame(dest, min, 0); }
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

TEST_F(TcpFixture, NothingWaitingCostsThirtyShortSelects) {
    auto t0 = fake.now();
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(fake.now() - t0, milliseconds(60));
}

TEST_F(TcpFixture, LateRepliesAreDiscardedBeforeTheNextSendWithoutWaiting) {
    // A reply that came too late for its command is waiting; the next command must see its own.
    link->send_frame(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(receive(), 0);  // nothing yet: the reply is owed
    peer.send({0x00, 0x02, 0x67, 0x05});
    auto t0 = fake.now();
    link->send_frame(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(fake.now(), t0) << "a reply already here is dropped without waiting";
    peer.send(kStatus);
    ASSERT_EQ(receive(), 6);
    EXPECT_EQ(dest[3], 0x00);
}

TEST_F(TcpFixture, AnOwedReplyIsWaitedForOnlyWhileOutstanding) {
    link->send_frame(Bytes{0x00, 0x01, 0x67});  // its reply is never read
    ASSERT_EQ(link->outstanding(), 1);
    auto t0 = fake.now();
    link->send_frame(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(fake.now() - t0, milliseconds(60)) << "one drain attempt, then the send";
    peer.send(kStatus);
    ASSERT_EQ(receive(), 6);
    EXPECT_EQ(link->outstanding(), 0);
    t0 = fake.now();
    link->send_frame(Bytes{0x00, 0x01, 0x67});
    EXPECT_EQ(fake.now(), t0) << "no reply owed: no drain wait";
}

TEST_F(TcpFixture, SendContinuesAfterPartialSendsAndFailures) {
    peer.send_limit = 2;
    peer.failing_writes = 3;
    EXPECT_EQ(link->send_frame(Bytes{0x00, 0x03, 0x71, 0x01, 0x00}), 7);
    EXPECT_EQ(peer.written, (Bytes{0x00, 0x03, 0x71, 0x01, 0x00, 0xBC, 0xD7}));
    peer.failing_writes = 1000;
    EXPECT_EQ(link->send_frame(Bytes{0x00, 0x01, 0x61}), 0);
}

TEST_F(TcpFixture, APeerThatHangsUpGivesNothingAndNoHang) {
    peer.send_raw({0x00, 0x02, 0x67});
    peer.hang_up = true;
    EXPECT_EQ(receive(), 0);
    EXPECT_EQ(receive(), 0);
}
