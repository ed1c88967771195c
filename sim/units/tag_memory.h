// Tag memory, selection, passwords, locks and kill: 0x70, 0x72, 0x73, 0x74, 0x80, 0x83, 0x85,
// 0x88, 0x89, 0x8A, 0x8B. (The password-authorised word read 0x84 lives with the inventories.)
//
// How this reader behaves:
//
// Addressing. 0x72, 0x73 and 0x74 name their tag by its 8-byte identifier
// (ReaderModel::find_by_id); the password commands act on ReaderModel::addressed_tag(), the
// first tag in the field. Only tags in the field count: not destroyed, and matching the
// selection when one is in force. The antenna byte is taken and ignored: every tag is in reach
// of every antenna. User memory is counted in bytes by 0x72-0x74 and in 16-bit words by 0x85
// (word n = bytes 2n, 2n+1), as model.h says.
//
// Replies. Success is status 0; 0x72 answers with the number of bytes read at index 4, then the
// bytes (so LEN = count + 3). Every other command answers with a status only. Errors, by
// Error (their status byte depends on the device class, see ReaderModel::status):
//   bad_request    (0x02)         parameters of the wrong length, or an option out of range
//   no_tag         (0x61 / 0x91)  no tag in the field has that identifier, no tag answers at
//                                 all, or a selection matches no tag
//   wrong_password (0x62 / 0x92)  the password does not authorise the command
//   out_of_range   (0x64 / 0x3F)  the bytes or words lie (partly) beyond the user memory
//   locked         (0x63 / 0x93)  the write would touch something locked
// The checks run in that order (shape, tag, password, range, lock). No request goes unanswered.
//
// Passwords. 0x83, 0x85, 0x88, 0x89 and 0x8A are authorised by the tag's visit password
// (ReaderModel::visit_password_ok: a visit password of 00000000 lets any password through).
// 0x88 sets the visit password, 0x89 the destroy password. 0x8B is authorised by the destroy
// password alone: it must equal the one sent and must not be 00000000 (a tag whose destroy
// password was never set cannot be destroyed). The data words of 0x8B are taken and ignored.
//
// Destroying. A destroyed tag leaves the field for good: no inventory, read, write, selection
// or password command reaches it any more.
//
// Locks. 0x74 locks a byte range of the user memory for good (a range of 0 bytes is accepted
// and locks nothing). 0x8A locks (mode 1) or unlocks (mode 0) a region:
//   0 visit password (0x88 refused), 1 destroy password (0x89 refused), 2 EPC (0x83 refused),
//   3 TID (no command writes it; the lock is only kept), 4 user memory (0x73 and 0x85 refused),
//   5 all of these at once.
// Mode above 1 or region above 5 is bad_request. Locks refuse writes, never reads.
//
// Selection. 0x70 matches its 8 bytes against the identifier, 0x80 its n bytes against the
// EPC, each as a prefix. option1: 0 cancels any selection (the match data is ignored), 1 sets
// this one; anything else is bad_request. option2: how many leading match bytes count, 0 for
// all that were sent; more than were sent is bad_request. A selection that matches no tag is
// answered with no_tag and the selection in force stays. While a selection is in force only
// the tags it matches are in the field, for every command (ReaderModel::tags_in_field); a
// selected tag that is destroyed or whose EPC changes may leave the field empty until the
// next selection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model.h"

namespace zr::sim {

class TagMemoryUnit final : public Unit {
public:
    explicit TagMemoryUnit(ReaderModel& m);

    enum Region : std::uint8_t {
        kVisitPassword = 0,
        kDestroyPassword = 1,
        kEpc = 2,
        kTid = 3,
        kUser = 4,
        kAllRegions = 5,
    };
    static bool region_locked(const Tag& t, Region r) { return (t.locked_regions >> r) & 1u; }
    // Would writing user bytes [begin, end) touch a lock?
    static bool user_locked(const Tag& t, std::size_t begin, std::size_t end);
};

}  // namespace zr::sim
