// CRC-16/UMTS: polynomial 0x8005, initial value 0, no reflection, no final XOR. A frame's
// CRC is sent high byte first, so the CRC over a whole good frame comes out 0.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zr::protocol {

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

class Crc16 {
public:
    constexpr void add(std::uint8_t byte) {
        value_ = static_cast<std::uint16_t>(detail::kCrcTable[(byte ^ (value_ >> 8)) & 0xFF] ^ (value_ << 8));
    }
    constexpr void add(std::span<const std::uint8_t> bytes) {
        for (auto b : bytes) add(b);
    }
    constexpr std::uint16_t value() const { return value_; }

private:
    std::uint16_t value_ = 0;
};

constexpr std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
    Crc16 c;
    c.add(bytes);
    return c.value();
}

}  // namespace zr::protocol
