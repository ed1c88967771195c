// The protocol analyser's pure parts: frames found in the bytes of one direction (good CRC or
// not, bytes between frames kept as junk), each decoded into one line, and the transcript
// format that records them and that the replay reads back.
//
// Transcript: text, one frame per line, so that two captures compare with diff:
//
//   # zrsim transcript
//   > 00 03 62 03 02 3C 96        # SYS_QUERY: parameters 03 02; CRC good
//   < 00 04 62 00 1E 1E 75 A9     # SYS_QUERY: status 0x00 (ok), data 1E 1E; CRC good
//
// '>' the application's frames to the reader, '<' the reader's; the bytes are the frame with
// its CRC as it would go over TCP (a serial line's start byte and stuffing removed); '#'
// starts a comment. Timing is printed by the analyser but kept out of the transcript.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire.h"

namespace zr::sim {

enum class Direction { to_reader, to_host };

// One piece of one direction's byte stream: a frame (LEN and CRC as found), or junk.
struct Piece {
    Bytes bytes;       // the frame, start byte and stuffing removed; or the junk bytes
    bool frame = false;
    bool crc_ok = false;
};

// Finds frames in the bytes of one direction, serial or TCP, as they arrive in chunks.
class FrameSplitter {
public:
    explicit FrameSplitter(bool serial) : serial_(serial) {}
    std::vector<Piece> feed(const std::uint8_t* p, std::size_t n);
    // What is held when the stream ends (a frame cut short shows as junk).
    std::vector<Piece> finish();

private:
    void take_tcp(std::vector<Piece>& out);
    bool serial_;
    bool in_frame_ = false;
    protocol::Unstuffer unstuffer_;
    Bytes held_;   // TCP: bytes not yet a whole frame; serial: the frame being collected
    Bytes junk_;   // serial: bytes outside any frame
};

// "SYS_QUERY: parameters 03 02; CRC good" for a request, "SYS_QUERY: status 0x00 (ok), data
// 1E 1E; CRC good" for a reply. `device_class` names the status bytes.
std::string describe_frame(const Piece& piece, Direction d, int device_class = 3);

// One transcript line (without its time) and back.
std::string transcript_line(const Piece& piece, Direction d, int device_class = 3);
struct Recorded {
    Direction direction;
    Bytes frame;  // with its CRC
    int line;     // in the file, for messages
};
// The frames of a transcript's text. false + `error` naming the line.
bool parse_transcript(const std::string& text, std::vector<Recorded>& out, std::string& error);

}  // namespace zr::sim
