#include <gtest/gtest.h>

#include <string>

#include "link/frame.h"
#include "link/serial_link.h"
#include "protocol.h"

using zr::link::crc16;
using Bytes = std::vector<std::uint8_t>;

TEST(Crc16, KnownAnswers) {
    struct Case {
        Bytes input;
        std::uint16_t crc;
    };
    const std::string check = "123456789";
    const Case cases[] = {
        {{}, 0x0000},
        {Bytes(check.begin(), check.end()), 0xFEE8},
        {{0x00, 0x01, 0x61}, 0x0746},
        {{0x00, 0x03, 0x71, 0x01, 0x00}, 0xBCD7},
        {{0x00, 0x02, 0x61, 0x00}, 0xC62D},
        {{0x00, 0x02, 0x67, 0x00}, 0xD22D},
        {{0x01}, 0x8005},
        {{0xFF}, 0x0202},
    };
    for (const auto& c : cases) EXPECT_EQ(crc16(c.input), c.crc) << zr::sim::hex(c.input);
}

TEST(Crc16, FrameWithItsCrcChecksToZero) {
    for (int len = 0; len < 40; ++len) {
        Bytes b;
        for (int i = 0; i < len; ++i) b.push_back(static_cast<std::uint8_t>(i * 37 + len));
        EXPECT_EQ(crc16(zr::sim::with_crc(b)), 0) << len;
    }
}

TEST(SerialStuffing, WireForms) {
    struct Case {
        Bytes payload;
        Bytes wire;
    };
    const Case cases[] = {
        {{0x00, 0x01, 0x61}, {0x55, 0x00, 0x01, 0x61, 0x07, 0x46}},
        {{0x00, 0x03, 0x71, 0x01, 0x00}, {0x55, 0x00, 0x03, 0x71, 0x01, 0x00, 0xBC, 0xD7}},
        // 0x55 and 0x56 inside the payload are escaped; so are CRC bytes.
        {{0x00, 0x02, 0x55, 0x56}, {}},
    };
    for (const auto& c : cases) {
        std::uint8_t out[64];
        auto n = zr::link::stuff_frame(c.payload, out);
        Bytes wire(out, out + n);
        EXPECT_EQ(wire, zr::sim::serial_wire(c.payload));
        if (!c.wire.empty()) {
            EXPECT_EQ(wire, c.wire);
        }
        // Only the first byte is a start byte.
        EXPECT_EQ(std::count(wire.begin(), wire.end(), 0x55), 1);
    }
}

TEST(FrameDecoder, UndoesStuffingAndDropsBadCrc) {
    zr::sim::FrameDecoder d(true);
    Bytes payload{0x00, 0x04, 0x55, 0x56, 0x55, 0x01};
    auto wire = zr::sim::serial_wire(payload);
    Bytes noise{0x13, 0x56, 0x99};
    wire.insert(wire.begin(), noise.begin(), noise.end());
    auto frames = d.feed(wire.data(), wire.size());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], payload);
    auto bad = zr::sim::serial_wire(payload);
    bad.back() ^= 1;
    EXPECT_TRUE(d.feed(bad.data(), bad.size()).empty());
    EXPECT_EQ(d.bad_frames, 1);
}

TEST(HexText, ParsesCommonSpellings) {
    Bytes out;
    EXPECT_TRUE(zr::sim::parse_hex("00 01 67", out));
    EXPECT_EQ(out, (Bytes{0x00, 0x01, 0x67}));
    EXPECT_TRUE(zr::sim::parse_hex("0x00,0xD2:2d", out));
    EXPECT_EQ(out, (Bytes{0x00, 0xD2, 0x2D}));
    EXPECT_FALSE(zr::sim::parse_hex("0 1", out));
    EXPECT_FALSE(zr::sim::parse_hex("zz", out));
    EXPECT_FALSE(zr::sim::parse_hex("123", out));
}
