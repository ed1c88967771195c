// Inventories and their reports, user-word reads, the EAS alarm mode, the reader's own listen
// frame with its acknowledgement, data return and raw frames.
//
// Reply layouts (payloads: LEN high, LEN low, code, status, data; the CRC follows on the wire).
// Every inventory start is answered by one report frame per tag in the field (killed tags and
// tags outside the selection or placed at another antenna, Tag::antenna, do not answer), in
// population order, or by one error frame when none qualifies. Error frames of inventories
// carry two data bytes, antenna and 00, so that they also reach the long and user reports
// over TCP (which read nothing under 8 bytes).
//
//   0x71 identify        request: antenna, option       report data: antenna, identifier (8)
//   0xD0 direct read     request: antenna, option       report data: antenna, EPC
//   0x49 long identify   request: antenna, opt1, opt2   report data: antenna, identifier (8), EPC
//   0x4A user identify   request: antenna, opt1, scan tries, repeat, timeout, address, length,
//                        match (8), opt2..opt5          report data: antenna, EPC
//                        only tags whose EPC holds the first min(length, 8) match bytes at byte
//                        `address` answer (length 0: every tag)
//   0x81 EPC inventory   request: antenna, opt1, opt2   report data: the EPC
//   0x82 TID inventory   request: antenna, opt1, opt2, password (4)
//                        report data: the TID, for each tag whose visit password it matches;
//                        wrong_password when tags are there but none accepts it
//   no tag answers: status no_tag (class 3: 0x61, classes 1/2: 0x91), data antenna, 00.
//
//   0x84 read words      request: antenna, password (4), word address, word count
//                        one reply: data = number of words read, then the words (2 bytes each,
//                        word n = user bytes 2n, 2n+1). The first tag in the field is read.
//                        no tag: no_tag; wrong password: wrong_password; words beyond user
//                        memory: out_of_range; a short request: bad_request (0x02).
//
//   0x8C EAS flag        request: antenna, password (4), flag. Sets (flag != 0) or clears the
//                        first tag's EAS flag; status reply (no_tag, wrong_password as 0x84).
//   0x8D EAS alarm       request: antenna, mode (1 on, 0 off), [00]. Mode 1 is not answered: the
//                        alarm frames are its answers. Mode 0 stops them and is answered with
//                        status 0. Another mode: bad_request.
//                        Alarm frame, while the mode is on, every `alarm_period_ms` for each tag
//                        in the field with its EAS flag set: status 0, data antenna, EPC.
//
//   0xA1 listen          frame the reader pushes (push_listen_frame, or every listen_period_ms):
//                        00 18 A1, identifier (8) at 3..10, EPC bytes 0..11 at 11..22 (zero
//                        padded), sequence number (2, big-endian) at 23..24, antenna 01 at 25:
//                        28 bytes with the CRC, as the library's TCP receive demands. The first
//                        tag in the field is sent (zeros when none is there).
//                        The acknowledgement (request 0xA1: status, 8 bytes, echo) is checked
//                        against the last frame pushed: status 00 with bytes 3..10 and byte 12
//                        counts as acks_ok, status 3F as acks_refused, anything else as
//                        acks_wrong. It is not answered.
//
//   0x68 data return     request: antenna, option. Status 0 (bad_request for an option above 4),
//                        data antenna, option: two data bytes, for the library's TCP minimum.
//   0x5F code sending    request: any bytes. Status 0, data = number of bytes received (2 bytes,
//                        big-endian), for the same reason.
#pragma once

#include <chrono>
#include <optional>

#include "model.h"

namespace zr::sim {

class InventoryUnit final : public Unit {
public:
    explicit InventoryUnit(ReaderModel& m);
    std::vector<Bytes> unsolicited(ReaderModel& m, std::chrono::milliseconds now) override;

    // EAS alarm mode.
    bool alarm_on = false;
    std::uint8_t alarm_antenna = 0;
    int alarm_period_ms = 100;
    int alarms_sent = 0;

    // Listen frames and the acknowledgements they got.
    void push_listen_frame(ReaderModel& m);
    Bytes listen_frame(ReaderModel& m);  // the next frame (advances the sequence number)
    int listen_period_ms = 0;            // > 0: pushes a frame that often
    Bytes last_listen;
    Bytes last_ack;  // parameters of the last acknowledgement
    int acks_ok = 0, acks_refused = 0, acks_wrong = 0;

    // Data return and raw frames.
    int data_return_option = -1;
    int code_sendings = 0;
    Bytes last_code;  // the bytes of the last 0x5F request

private:
    std::optional<std::chrono::milliseconds> next_alarm_, next_listen_;
    std::uint16_t listen_sequence_ = 0;
};

}  // namespace zr::sim
