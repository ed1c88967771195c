// The serial link on the fake platform: frame hunting, unstuffing, time-outs, sending.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "link/serial_link.h"

using namespace zr::test;
using zr::link::ReplyBuffer;
using zr::link::SerialLink;

namespace {

struct SerialFixture : ::testing::Test {
    FakePlatform fake;
    Peer& peer = fake.serial("COM1");
    std::unique_ptr<SerialLink> link = std::make_unique<SerialLink>(fake.open_serial("COM1"), fake);
    ReplyBuffer dest{};
    int receive(std::uint8_t expected) { return link->receive_frame(dest, zr::link::Expect{expected}, fake.now()); }
    Bytes got(int n) const { return Bytes(dest.begin(), dest.begin() + n); }
};

Bytes framed(const Bytes& payload) { return zr::sim::with_crc(payload); }

}  // namespace

TEST_F(SerialFixture, FindsTheFrameAmongNoise) {
    struct Case {
        const char* name;
        Bytes wire;
        std::uint8_t expected_code;
        Bytes frame;  // empty: nothing is returned
    };
    const Bytes reply{0x00, 0x02, 0x67, 0x00};
    auto wire = zr::sim::serial_wire(reply);
    auto with = [&](Bytes prefix) {
        prefix.insert(prefix.end(), wire.begin(), wire.end());
        return prefix;
    };
    auto other = zr::sim::serial_wire({0x00, 0x02, 0x71, 0x00});
    auto bad_crc = wire;
    bad_crc.back() ^= 1;
    const Case cases[] = {
        {"bytes before the start byte are skipped", with({0x01, 0x02, 0x03}), 0x67, framed(reply)},
        {"a start byte inside a frame restarts it", with({0x55, 0x00, 0x02}), 0x67, framed(reply)},
        {"a frame for another command is skipped", [&] { auto w = other; w.insert(w.end(), wire.begin(), wire.end()); return w; }(), 0x67, framed(reply)},
        {"a bad CRC is dropped", bad_crc, 0x67, {}},
        {"stuffed payload bytes come back", zr::sim::serial_wire({0x00, 0x04, 0x67, 0x00, 0x55, 0x56}), 0x67,
         framed({0x00, 0x04, 0x67, 0x00, 0x55, 0x56})},
        {"a length beyond 256 cuts the frame off", zr::sim::serial_wire({0x01, 0x00, 0x67, 0x00}), 0x67, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.incoming.clear();
        peer.send_raw(c.wire);
        int n = receive(c.expected_code);
        if (c.frame.empty()) {
            EXPECT_EQ(n, 0);
        } else {
            ASSERT_EQ(n, static_cast<int>(c.frame.size()));
            EXPECT_EQ(got(n), c.frame);
        }
    }
}

TEST_F(SerialFixture, EscapeFollowedByNothingIsTheEscapedByte) {
    auto s = link->read_escaped(false);
    EXPECT_EQ(s.kind, SerialLink::Got::nothing);
    peer.send_raw({0x56});
    s = link->read_escaped(false);
    EXPECT_EQ(s.kind, SerialLink::Got::data);
    EXPECT_EQ(s.byte, 0x56);
    peer.send_raw({0x56, 0x55});
    EXPECT_EQ(link->read_escaped(false).kind, SerialLink::Got::start);
    peer.send_raw({0x56, 0x41});
    EXPECT_EQ(link->read_escaped(false).byte, 0x41);
}

TEST_F(SerialFixture, NothingWaitingReturnsAtOnce) {
    auto t0 = fake.now();
    EXPECT_EQ(receive(0x67), 0);
    EXPECT_EQ(fake.now(), t0);
}

TEST_F(SerialFixture, AFrameThatStopsIsAbandonedAfterTwentyMillisecondsOfSilence) {
    peer.send_raw({0x55, 0x00, 0x04, 0x67});
    auto t0 = fake.now();
    EXPECT_EQ(receive(0x67), 0);
    EXPECT_GE(fake.now() - t0, milliseconds(20));
    EXPECT_LT(fake.now() - t0, milliseconds(200));
}

TEST_F(SerialFixture, ASlowLineStillDeliversItsFrame) {
    // One byte every 10 ms: far slower than 19200 baud, but not silent for 20 ms.
    auto wire = zr::sim::serial_wire({0x00, 0x02, 0x67, 0x00});
    for (std::size_t i = 0; i < wire.size(); ++i) peer.send_raw({wire[i]}, static_cast<int>(i) * 10);
    EXPECT_EQ(receive(0x67), 6);
}

TEST_F(SerialFixture, SendStuffsAndReportsWhatWentOut) {
    EXPECT_EQ(link->send_frame(Bytes{0x00, 0x03, 0x55, 0x56, 0x01}, true), 5);
    EXPECT_EQ(peer.written, zr::sim::serial_wire({0x00, 0x03, 0x55, 0x56, 0x01}));
    // Each byte is preceded by a flush, and a byte is retried until it goes out.
    EXPECT_EQ(peer.flushes, static_cast<int>(peer.written.size()));
    peer.written.clear();
    peer.failing_writes = 50;
    EXPECT_EQ(link->send_frame(Bytes{0x00, 0x01, 0x61}, true), 3);
    EXPECT_EQ(peer.written, zr::sim::serial_wire({0x00, 0x01, 0x61}));
}

TEST_F(SerialFixture, SendGivesUpOnADeadPort) {
    peer.failing_writes = 1'000'000;
    EXPECT_EQ(link->send_frame(Bytes{0x00, 0x01, 0x61}, true), 0);
    // A frame cut short counts nothing as sent; a device that has gone stays lost.
    peer.failing_writes = 0;
    peer.written.clear();
    peer.unplugged = true;
    EXPECT_EQ(link->send_frame(Bytes{0x00, 0x01, 0x61}, true), 0);
    EXPECT_TRUE(link->lost());
    EXPECT_TRUE(peer.written.empty());
}

TEST_F(SerialFixture, SendDropsStaleInputFirst) {
    peer.send({0x00, 0x02, 0x67, 0x05});  // a late reply to an earlier request
    link->send_frame(Bytes{0x00, 0x01, 0x67}, true);
    peer.send({0x00, 0x02, 0x67, 0x00});
    ASSERT_EQ(receive(0x67), 6);
    EXPECT_EQ(dest[3], 0x00);
}
