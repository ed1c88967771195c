// Serial transport: the protocol's serial wire form (start byte, stuffing).
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
    // In fixed timing a receive reads what is on the line now.
    std::chrono::milliseconds receive_window() const override { return std::chrono::milliseconds(0); }
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

protected:
    std::optional<std::span<const std::uint8_t>> pull(Clock deadline) override;
    Verdict screen(std::span<const std::uint8_t> frame, const Expect& expect) const override;
    void trace_in(std::span<const std::uint8_t> frame, Verdict v) override { trace_received(frame, v); }
    void drain_arrived() override;

private:
    // Fixed timing: byte by byte, each byte after a flush. Whole timing: one write.
    int send_stuffed(std::span<const std::uint8_t> payload);
    int send_whole(std::span<const std::uint8_t> payload);
    void trace_received(std::span<const std::uint8_t> frame, Verdict v);
    int read_byte(bool patient);
    bool write_byte(std::uint8_t byte);
    bool write_stuffed(std::uint8_t byte);
    // After a start byte: the frame's bytes into `dest`; false when the line went silent.
    bool read_frame_body(ReplyBuffer& dest, std::size_t& count, protocol::Crc16& crc);

    std::unique_ptr<platform::SerialPort> port_;
    platform::Platform& os_;
    ReplyBuffer rx_{};  // the frame pull() hands out
};

}  // namespace zr::link
