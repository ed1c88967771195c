// Finds the frames in a TCP byte stream: LEN (2 bytes), body, CRC-16 over all of it.
// TCP frames have no start byte, so a stray byte or a half frame would otherwise be read as
// a length and throw the stream out of step for good. Here a position is taken for the start
// of a frame only when the length is one a reader can send and the whole frame has a good
// CRC; anything else is skipped a byte at a time, so garbage costs no more than itself.
// No I/O: the link fills it and takes frames out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/frame.h"

namespace zr::protocol {

class TcpFramer {
public:
    static constexpr std::size_t kCapacity = 1024;

    // Where the next bytes go, and how many arrived there.
    std::span<std::uint8_t> space();
    void commit(std::size_t n);
    // The next whole frame with a good CRC, valid until the next call; nothing when more
    // bytes are needed. Bytes before it that belong to no frame are dropped.
    std::optional<std::span<const std::uint8_t>> next();
    // Forgets everything held, a half-received frame included.
    void clear();

    bool empty() const { return size_ == 0; }
    // Bytes dropped so far because they belonged to no frame.
    std::size_t skipped() const { return skipped_; }

private:
    // Whole frame with a good CRC at `at`: its length; 0 when there is none (yet).
    std::size_t frame_at(std::size_t at) const;
    void drop(std::size_t n);

    std::array<std::uint8_t, kCapacity> buffer_{};
    std::size_t size_ = 0;
    std::size_t skipped_ = 0;
    std::size_t taken_ = 0;  // length of the frame handed out last, removed on the next call
};

}  // namespace zr::protocol
