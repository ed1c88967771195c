#include "protocol/serial_codec.h"

namespace zr::protocol {

Bytes stuff_framed(std::span<const std::uint8_t> framed) {
    Bytes out{kStartByte};
    for (auto b : framed) {
        const auto s = stuff(b);
        out.insert(out.end(), s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(s.size));
    }
    return out;
}

std::vector<Bytes> unstuff_pieces(std::span<const std::uint8_t> wire) {
    std::vector<Bytes> pieces;
    Unstuffer u;
    auto take = [&](Unstuffer::Unit unit) {
        if (unit.kind == Unstuffer::Kind::start) pieces.emplace_back();
        if (unit.kind != Unstuffer::Kind::data) return;
        if (pieces.empty()) pieces.emplace_back();
        pieces.back().push_back(unit.byte);
    };
    for (auto b : wire) take(u.feed(b));
    take(u.finish());
    return pieces;
}

std::vector<Bytes> Deframer::feed(std::span<const std::uint8_t> bytes) {
    std::vector<Bytes> out;
    for (auto b : bytes) take(b, out);
    return out;
}

void Deframer::take(std::uint8_t b, std::vector<Bytes>& out) {
    if (serial_) {
        const auto unit = unstuffer_.feed(b);
        if (unit.kind == Unstuffer::Kind::start) {
            in_frame_ = true;
            frame_.clear();
            return;
        }
        if (!in_frame_ || unit.kind == Unstuffer::Kind::none) return;
        b = unit.byte;
    }
    frame_.push_back(b);
    if (frame_.size() < 3) return;
    const std::size_t total = static_cast<std::size_t>(frame_[0]) * 256 + frame_[1] + 4;
    if (frame_.size() < total) return;
    if (crc16(frame_) == 0) {
        frame_.resize(frame_.size() - 2);
        out.push_back(std::move(frame_));
    } else {
        ++bad_frames;
    }
    frame_.clear();
    in_frame_ = false;
}

}  // namespace zr::protocol
