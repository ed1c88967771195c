// The serial wire form of a frame: a start byte, then the frame with every 0x55 sent as
// 56 56 and every 0x56 as 56 57. A start byte can therefore only ever begin a frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "protocol/frame.h"

namespace zr::protocol {

inline constexpr std::uint8_t kStartByte = 0x55;
inline constexpr std::uint8_t kEscapeByte = 0x56;
inline constexpr std::uint8_t kEscapedEscape = 0x57;  // 56 57 stands for 0x56

// What one frame byte becomes on the line: one or two bytes.
struct Stuffed {
    std::array<std::uint8_t, 2> bytes;
    std::size_t size;
    std::span<const std::uint8_t> wire() const { return {bytes.data(), size}; }
};

constexpr Stuffed stuff(std::uint8_t b) {
    if (b == kStartByte) return {{kEscapeByte, kEscapeByte}, 2};
    if (b == kEscapeByte) return {{kEscapeByte, kEscapedEscape}, 2};
    return {{b, 0}, 1};
}

// Start byte, then `framed` (a frame with its CRC, good or not) stuffed.
Bytes stuff_framed(std::span<const std::uint8_t> framed);
// Start byte, then the payload and its CRC stuffed.
inline Bytes serial_wire(const Bytes& payload) { return stuff_framed(with_crc(payload)); }

// Takes the line apart a byte at a time: each byte stands for a start, a frame byte, or
// nothing yet (the first half of an escape).
class Unstuffer {
public:
    enum class Kind { none, start, data };
    struct Unit {
        Kind kind;
        std::uint8_t byte;
    };

    constexpr Unit feed(std::uint8_t b) {
        if (b == kStartByte) {  // even after an escape: a new frame begins
            escaped_ = false;
            return {Kind::start, 0};
        }
        if (escaped_) {
            escaped_ = false;
            return {Kind::data, b == kEscapeByte ? kStartByte : b == kEscapedEscape ? kEscapeByte : b};
        }
        if (b == kEscapeByte) {
            escaped_ = true;
            return {Kind::none, 0};
        }
        return {Kind::data, b};
    }
    // The line ended (or went quiet) after an escape: it stands for itself.
    constexpr Unit finish() {
        if (!escaped_) return {Kind::none, 0};
        escaped_ = false;
        return {Kind::data, kEscapeByte};
    }
    constexpr bool pending() const { return escaped_; }

private:
    bool escaped_ = false;
};

// Serial wire bytes split at their start bytes, stuffing removed: what each start byte began
// (bytes before the first start byte form a piece of their own).
std::vector<Bytes> unstuff_pieces(std::span<const std::uint8_t> wire);

// Reassembles frames from a byte stream, serial (start byte and stuffing) or TCP (frames one
// after another), by their LEN field. Frames whose CRC fails are counted and dropped.
class Deframer {
public:
    explicit Deframer(bool serial) : serial_(serial) {}
    // Whole frames with a good CRC, payload only (CRC removed).
    std::vector<Bytes> feed(std::span<const std::uint8_t> bytes);
    int bad_frames = 0;

private:
    void take(std::uint8_t b, std::vector<Bytes>& out);
    bool serial_;
    bool in_frame_ = false;
    Unstuffer unstuffer_;
    Bytes frame_;
};

}  // namespace zr::protocol
