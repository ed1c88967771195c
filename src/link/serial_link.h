// Serial transport: the protocol's serial wire form (start byte, stuffing), a byte at a time.
#pragma once

#include <memory>
#include <optional>

#include "link/link.h"
#include "platform/platform.h"
#include "protocol/serial_codec.h"

namespace zr::link {

class SerialLink final : public Link {
public:
    SerialLink(std::unique_ptr<platform::SerialPort> port, platform::Platform& os);
    const Profile& profile() const override { return kSerialProfile; }
    int send_frame(std::span<const std::uint8_t> payload, bool reply_expected) override;
    // Serial has no minimum length and no deadline: it reads what is on the line now.
    int receive_frame(ReplyBuffer& dest, Expect expect, Clock deadline) override;
    std::chrono::milliseconds receive_window() const override { return std::chrono::milliseconds(0); }
    void forget_owed() override { owed_.reset(); }
    bool lost() const override { return port_->gone(); }
    void flush() override;
    CloseResult close() override;

    enum class Got { nothing = -1, data = 1, start = 2 };
    struct Escaped {
        Got kind;
        std::uint8_t byte;
    };
    // One unstuffed unit from the line. `patient`: inside a frame, wait briefly on an empty line.
    Escaped read_escaped(bool patient);

private:
    int send_stuffed(std::span<const std::uint8_t> payload, bool reply_expected);
    void drain();
    void trace_received(std::span<const std::uint8_t> frame, Verdict v);
    int read_byte(bool patient);
    bool write_byte(std::uint8_t byte);
    bool write_stuffed(std::uint8_t byte);
    // After a start byte: the frame's bytes into `dest`; false when the line went silent.
    bool read_frame_body(ReplyBuffer& dest, std::size_t& count, protocol::Crc16& crc);

    std::unique_ptr<platform::SerialPort> port_;
    platform::Platform& os_;
    std::optional<std::uint8_t> owed_;  // the code of a reply the reader still owes
    bool owed_wait_ = false;            // receiving only to discard that reply
};

}  // namespace zr::link
