// The frame every exchange carries: LEN (2 bytes, big-endian), command code, parameters,
// CRC-16/UMTS high byte first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace zr::link {

inline constexpr std::size_t kRequestMax = 256;   // the request buffer of every command
inline constexpr std::size_t kReplyMax = 256;     // the reply buffer; also the serial frame limit
inline constexpr std::size_t kTcpReplyMax = 100;  // the TCP receive's frame limit
inline constexpr std::size_t kTcpFrameBuffer = 1024;
inline constexpr std::size_t kStatusReplySize = 6;

using ReplyBuffer = std::array<std::uint8_t, kReplyMax>;

namespace detail {
constexpr std::array<std::uint16_t, 256> make_crc_table() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i << 8;
        for (int bit = 0; bit < 8; ++bit) v = (v & 0x8000) ? ((v << 1) ^ 0x8005) : (v << 1);
        t[i] = static_cast<std::uint16_t>(v);
    }
    return t;
}
inline constexpr std::array<std::uint16_t, 256> kCrcTable = make_crc_table();
static_assert(kCrcTable[1] == 0x8005 && kCrcTable[255] == 0x0202);
}  // namespace detail

// CRC-16/UMTS: polynomial 0x8005, initial value 0, no reflection, no final XOR.
class Crc16 {
public:
    void add(std::uint8_t byte) {
        value_ = static_cast<std::uint16_t>(detail::kCrcTable[(byte ^ (value_ >> 8)) & 0xFF] ^ (value_ << 8));
    }
    void add(std::span<const std::uint8_t> bytes) {
        for (auto b : bytes) add(b);
    }
    std::uint16_t value() const { return value_; }

private:
    std::uint16_t value_ = 0;
};

inline std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    Crc16 c;
    c.add(bytes);
    return c.value();
}

// LEN as the first two bytes of a frame say.
inline int length_field(std::span<const std::uint8_t> frame) {
    return frame.size() < 2 ? 0 : frame[0] * 256 + frame[1];
}

}  // namespace zr::link
