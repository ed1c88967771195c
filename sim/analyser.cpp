#include "analyser.h"

#include <cstdio>
#include <sstream>

#include "protocol/crc.h"
#include "protocol/status.h"

namespace zr::sim {
namespace {

// The longest frame a reader sends is 256 bytes; a LEN beyond it is no frame's.
constexpr std::size_t kFrameMax = 300;

std::size_t frame_size(const Bytes& b) { return static_cast<std::size_t>(b[0] * 256 + b[1]) + 4; }

Piece frame_piece(Bytes bytes) {
    Piece p{std::move(bytes), true, false};
    p.crc_ok = protocol::crc16(p.bytes) == 0;
    return p;
}

void flush_junk(Bytes& junk, std::vector<Piece>& out) {
    if (junk.empty()) return;
    out.push_back({std::move(junk), false, false});
    junk.clear();
}

}  // namespace

std::vector<Piece> FrameSplitter::feed(const std::uint8_t* p, std::size_t n) {
    std::vector<Piece> out;
    if (!serial_) {
        held_.insert(held_.end(), p, p + n);
        take_tcp(out);
        return out;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const auto unit = unstuffer_.feed(p[i]);
        if (unit.kind == protocol::Unstuffer::Kind::start) {
            flush_junk(junk_, out);
            if (in_frame_ && !held_.empty()) out.push_back({held_, false, false});  // cut short
            in_frame_ = true;
            held_.clear();
        } else if (unit.kind == protocol::Unstuffer::Kind::data) {
            if (!in_frame_) {
                junk_.push_back(p[i]);
                continue;
            }
            held_.push_back(unit.byte);
            if (held_.size() >= 2 && frame_size(held_) > kFrameMax) {
                junk_ = held_;
                held_.clear();
                in_frame_ = false;
            } else if (held_.size() >= 2 && held_.size() == frame_size(held_)) {
                out.push_back(frame_piece(held_));
                held_.clear();
                in_frame_ = false;
            }
        }
    }
    return out;
}

void FrameSplitter::take_tcp(std::vector<Piece>& out) {
    std::size_t at = 0;
    while (held_.size() - at >= 2) {
        const std::size_t size = static_cast<std::size_t>(held_[at] * 256 + held_[at + 1]) + 4;
        if (size < 5 || size > kFrameMax) {  // not a frame's LEN: one junk byte
            junk_.push_back(held_[at++]);
            continue;
        }
        if (held_.size() - at < size) break;
        flush_junk(junk_, out);
        out.push_back(frame_piece(Bytes(held_.begin() + static_cast<long>(at), held_.begin() + static_cast<long>(at + size))));
        at += size;
    }
    // Junk is shown when the next frame or the end comes, in one piece however it arrived.
    held_.erase(held_.begin(), held_.begin() + static_cast<long>(at));
}

std::vector<Piece> FrameSplitter::finish() {
    std::vector<Piece> out;
    flush_junk(junk_, out);
    if (!held_.empty()) out.push_back({held_, false, false});
    held_.clear();
    in_frame_ = false;
    return out;
}

std::string describe_frame(const Piece& piece, Direction d, int device_class) {
    const Bytes& b = piece.bytes;
    if (!piece.frame) return std::to_string(b.size()) + (b.size() == 1 ? " byte" : " bytes") + " outside any frame";
    std::ostringstream s;
    const std::size_t body_end = b.size() - 2;  // before the CRC
    s << command_name(b[2]) << ": ";
    if (d == Direction::to_reader) {
        if (body_end <= 3) s << "no parameters";
        else s << "parameters " << hex(b.data() + 3, body_end - 3);
    } else if (body_end <= 3) {
        s << "no status";
    } else {
        const std::uint8_t status = b[3];
        char text[16];
        std::snprintf(text, sizeof text, "status 0x%02X", status);
        s << text;
        if (status == 0) {
            s << " (ok)";
        } else {
            s << " (";
            if (const char* meaning = protocol::status_meaning(status, device_class)) s << meaning << ", ";
            s << "result " << protocol::map_status(status, device_class) << ")";
        }
        if (body_end > 4) s << ", data " << hex(b.data() + 4, body_end - 4);
    }
    if (piece.crc_ok) {
        s << "; CRC good";
    } else {
        const auto crc = protocol::crc16(std::span<const std::uint8_t>(b.data(), body_end));
        char text[48];
        std::snprintf(text, sizeof text, "; CRC BAD (should be %02X %02X)", crc >> 8, crc & 0xFF);
        s << text;
    }
    return s.str();
}

std::string transcript_line(const Piece& piece, Direction d, int device_class) {
    std::string line = (d == Direction::to_reader ? "> " : "< ") + hex(piece.bytes);
    if (line.size() < 32) line.resize(32, ' ');
    return line + "  # " + describe_frame(piece, d, device_class);
}

bool parse_transcript(const std::string& text, std::vector<Recorded>& out, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
        line.erase(0, line.find_first_not_of(" \t\r"));
        line.erase(line.find_last_not_of(" \t\r") + 1);
        if (line.empty()) continue;
        Bytes frame;
        if ((line[0] != '>' && line[0] != '<') || !parse_hex(line.substr(1), frame) || frame.empty()) {
            error = "line " + std::to_string(number) + ": expected '> HEX' or '< HEX', not '" + line + "'";
            return false;
        }
        out.push_back({line[0] == '>' ? Direction::to_reader : Direction::to_host, frame, number});
    }
    return true;
}

}  // namespace zr::sim
