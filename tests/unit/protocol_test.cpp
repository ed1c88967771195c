// The protocol layer that the library, the simulator and the tool share.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "protocol/codes.h"
#include "protocol/frame.h"
#include "protocol/hex.h"
#include "protocol/serial_codec.h"

using namespace zr::protocol;

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
    for (const auto& c : cases) EXPECT_EQ(crc16(c.input), c.crc) << hex(c.input);
}

TEST(Crc16, FrameWithItsCrcChecksToZero) {
    for (int len = 0; len < 40; ++len) {
        Bytes b;
        for (int i = 0; i < len; ++i) b.push_back(static_cast<std::uint8_t>(i * 37 + len));
        EXPECT_EQ(crc16(with_crc(b)), 0) << len;
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
        const Bytes wire = serial_wire(c.payload);
        if (!c.wire.empty()) {
            EXPECT_EQ(wire, c.wire);
        }
        // Only the first byte is a start byte, and the pieces give the frame back.
        EXPECT_EQ(std::count(wire.begin(), wire.end(), 0x55), 1);
        EXPECT_EQ(unstuff_pieces(wire), std::vector<Bytes>{with_crc(c.payload)});
    }
}

// What the line's bytes stand for, as the serial link, the simulator and the decoder read them.
TEST(SerialStuffing, UnstuffedPieces) {
    struct Case {
        const char* why;
        Bytes wire;
        std::vector<Bytes> pieces;
    };
    const Case cases[] = {
        {"escapes", {0x55, 0x56, 0x56, 0x56, 0x57, 0x56, 0x13}, {{0x55, 0x56, 0x13}}},
        {"a start byte after an escape begins a frame", {0x55, 0x01, 0x56, 0x55, 0x02}, {{0x01}, {0x02}}},
        {"an escape at the end stands for itself", {0x55, 0x01, 0x56}, {{0x01, 0x56}}},
        {"bytes before the first start byte", {0x07, 0x55, 0x08}, {{0x07}, {0x08}}},
    };
    for (const auto& c : cases) EXPECT_EQ(unstuff_pieces(c.wire), c.pieces) << c.why;
}

TEST(Deframer, UndoesStuffingAndDropsBadCrc) {
    Deframer d(true);
    Bytes payload{0x00, 0x04, 0x55, 0x56, 0x55, 0x01};
    auto wire = serial_wire(payload);
    Bytes noise{0x13, 0x56, 0x99};
    wire.insert(wire.begin(), noise.begin(), noise.end());
    auto frames = d.feed(wire);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], payload);
    auto bad = serial_wire(payload);
    bad.back() ^= 1;
    EXPECT_TRUE(d.feed(bad).empty());
    EXPECT_EQ(d.bad_frames, 1);
}

TEST(HexText, ParsesCommonSpellings) {
    Bytes out;
    EXPECT_TRUE(parse_hex("00 01 67", out));
    EXPECT_EQ(out, (Bytes{0x00, 0x01, 0x67}));
    EXPECT_TRUE(parse_hex("0x00,0xD2:2d", out));
    EXPECT_EQ(out, (Bytes{0x00, 0xD2, 0x2D}));
    EXPECT_FALSE(parse_hex("0 1", out));
    EXPECT_FALSE(parse_hex("zz", out));
    EXPECT_FALSE(parse_hex("123", out));
}

TEST(CommandCodes, NamesAndUnaskedFrames) {
    EXPECT_EQ(command_name(code::reset), "RESET/TEST_MODE");
    EXPECT_EQ(command_name(0x99), "CMD 0x99");
    ASSERT_NE(find_command(code::listen), nullptr);
    EXPECT_EQ(find_command(code::listen)->answer, Answer::reader_first);
    EXPECT_TRUE(is_report_code(code::identify));
    EXPECT_FALSE(is_report_code(code::reset));
}
