// What a session talks through. Commands never ask which transport they have.
#pragma once

#include <cstdint>
#include <span>

#include "link/frame.h"

namespace zr::link {

enum class Kind { serial, tcp };

enum class CloseResult {
    closed,           // released
    not_ready,        // TCP socket not writable: the session stays open
    failed_released,  // the OS refused, but the link is gone
    failed_kept,      // the OS refused and still holds the port
};

class Link {
public:
    virtual ~Link() = default;
    virtual Kind kind() const = 0;
    // Adds the CRC (and, on serial, the start byte and stuffing) and sends.
    // Serial: payload bytes written (fewer on failure, 0 when the start or a CRC byte failed).
    // TCP: the frame length with CRC, or 0.
    virtual int send_frame(std::span<const std::uint8_t> payload) = 0;
    // One frame into `dest`: its length LEN + 4, or 0. Serial skips frames whose code is not
    // `expected` (0 takes any); TCP yields nothing shorter than `min_length` + 2 bytes.
    virtual int receive_frame(ReplyBuffer& dest, int min_length, std::uint8_t expected) = 0;
    // The frame just sent is answered by nothing (an acknowledgement): no reply is owed for it.
    virtual void no_reply_owed() {}
    // The output flush a command does before it sends (nothing on TCP).
    virtual void flush() = 0;
    virtual CloseResult close() = 0;
};

}  // namespace zr::link
