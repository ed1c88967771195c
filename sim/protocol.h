// Command codes of the reader protocol and their names, for traces and frame decoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zr::sim {

using Bytes = std::vector<std::uint8_t>;

// "RESET" for 0x67 and so on; "CMD 0xNN" for a code the protocol does not name.
std::string command_name(std::uint8_t code);

// Frame = payload + CRC-16 (high byte first).
Bytes with_crc(const Bytes& payload);
// Serial wire form: start byte, then payload and CRC stuffed.
Bytes serial_wire(const Bytes& payload);
// A reply payload: LEN, code, status, data.
Bytes reply_payload(std::uint8_t code, std::uint8_t status, const Bytes& data = {});

std::string hex(const std::uint8_t* p, std::size_t n);
inline std::string hex(const Bytes& b) { return hex(b.data(), b.size()); }
// "00 01 67", "000167", "0x00,0x01" ... -> bytes; false on anything that is not hex.
bool parse_hex(const std::string& text, Bytes& out);

// Reassembles request frames from the bytes of one connection.
class FrameDecoder {
public:
    explicit FrameDecoder(bool serial) : serial_(serial) {}
    // Feeds bytes; whole frames whose CRC checks come out (payload only, CRC removed).
    // Frames with a bad CRC are counted in `bad_frames` and dropped.
    std::vector<Bytes> feed(const std::uint8_t* p, std::size_t n);
    int bad_frames = 0;

private:
    void take(std::uint8_t b, std::vector<Bytes>& out);
    bool serial_;
    bool in_frame_ = false;
    bool escaped_ = false;
    Bytes frame_;
};

}  // namespace zr::sim
