// The frame every exchange carries: LEN (2 bytes, big-endian), command code, parameters,
// CRC-16 high byte first. A reply carries the echoed code at index 2 and the reader's status
// at index 3.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/crc.h"

namespace zr::protocol {

inline constexpr std::size_t kRequestMax = 256;   // the request buffer of every command
inline constexpr std::size_t kReplyMax = 256;     // the reply buffer; also the serial frame limit
inline constexpr std::size_t kTcpReplyMax = 100;  // the TCP receive's frame limit
inline constexpr std::size_t kStatusReplySize = 6;
inline constexpr std::size_t kFrameMin = 6;       // LEN, code, status, CRC: the least a reply is

using Bytes = std::vector<std::uint8_t>;
using ReplyBuffer = std::array<std::uint8_t, kReplyMax>;

// LEN as the first two bytes of a frame say.
constexpr int length_field(std::span<const std::uint8_t> frame) {
    return frame.size() < 2 ? 0 : frame[0] * 256 + frame[1];
}

// Payload followed by its CRC, high byte first.
Bytes with_crc(const Bytes& payload);

// A reply payload: LEN, code, status, data.
Bytes reply_payload(std::uint8_t code, std::uint8_t status, const Bytes& data = {});

// Builds a request payload in a fixed buffer: LEN follows every byte added and counts the
// code. Nothing is added past kRequestMax bytes: add() says false instead.
class Payload {
public:
    explicit Payload(std::uint8_t code) : bytes_{0, 1, code}, size_(3) {}
    bool add(std::uint8_t b) {
        if (size_ >= bytes_.size()) return false;
        bytes_[size_++] = b;
        const auto len = size_ - 2;
        bytes_[0] = static_cast<std::uint8_t>(len >> 8);
        bytes_[1] = static_cast<std::uint8_t>(len & 0xFF);
        return true;
    }
    std::size_t room() const { return bytes_.size() - size_; }
    std::span<const std::uint8_t> bytes() const { return {bytes_.data(), size_}; }
    std::uint8_t code() const { return bytes_[2]; }

private:
    std::array<std::uint8_t, kRequestMax> bytes_;
    std::size_t size_;
};

// A received frame as the commands read it: `count` bytes at the start of a 256-byte buffer
// that was zeroed first, so that bytes past the frame read as 0.
class Reply {
public:
    Reply(const ReplyBuffer& buffer, int count) : buffer_(buffer), count_(count) {}
    int count() const { return count_; }
    int len() const { return buffer_[0] * 256 + buffer_[1]; }
    std::uint8_t code() const { return buffer_[2]; }
    std::uint8_t status() const { return buffer_[3]; }
    std::uint8_t operator[](std::size_t i) const { return i < buffer_.size() ? buffer_[i] : 0; }
    // Copies `n` bytes from index `from` of the reply buffer (zeros past the frame).
    void copy(std::size_t from, std::size_t n, std::uint8_t* dest) const;
    // Copies `n` data bytes (from index 4); bytes the reply does not carry, its CRC included,
    // are zeros.
    void copy_data(std::size_t n, std::uint8_t* dest) const;

private:
    const ReplyBuffer& buffer_;
    int count_;
};

}  // namespace zr::protocol
