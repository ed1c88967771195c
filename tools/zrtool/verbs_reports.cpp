// Inventory start commands (they only send) and their report calls (they only receive).
// A report hands over the status byte and the report data without their length, so the data
// shows without the zeros that follow it in the buffer.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

// Status byte first, then the data.
int report(Call& c, int(ZR_CALL* fn)(int, unsigned char*)) {
    auto* buf = c.buffer();
    const int r = fn(c.handle(), buf);
    if (r == ZR_OK) c.out("data", hex_trimmed(buf + 1, 255));
    return r;
}

const Arg kAntenna = byte_arg("antenna", "1", "antenna byte");
const Arg kOption = byte_arg("option", "0", "option byte, passed through");
const Arg kOption1 = byte_arg("option1", "0", "first option byte, passed through");
const Arg kOption2 = byte_arg("option2", "0", "second option byte, passed through");

const VerbGroup kReports(20, "Inventory and reports", {
    {"identify", "ZRIdentify", "start an inventory (reports: report)", {kAntenna, kOption},
     "zrtool --simulate identify --antenna 1",
     [](Call& c) { return ZRIdentify(c.handle(), c.byte("antenna"), c.byte("option")); }, Kind::send_only},
    {"report", "ZRReport", "collect one inventory report (0 when none has come)", {},
     "zrtool --simulate report", [](Call& c) { return report(c, ZRReport); }, Kind::report, true,
     started_by([](int h) { ZRIdentify(h, 1, 0); }), "an inventory is started first (identify), so that reports wait"},
    {"direct-read", "ZRDirectRead", "start a direct read (reports: direct-report)", {kAntenna, kOption},
     "zrtool --simulate direct-read",
     [](Call& c) { return ZRDirectRead(c.handle(), c.byte("antenna"), c.byte("option")); }, Kind::send_only},
    {"direct-report", "ZRDirectReport", "collect one direct-read report", {},
     "zrtool --simulate direct-report", [](Call& c) { return report(c, ZRDirectReport); }, Kind::report, true,
     started_by([](int h) { ZRDirectRead(h, 1, 0); }), "a direct read is started first, so that reports wait"},
    {"long-identify", "ZRLongIdentify", "start a long inventory (reports: long-report)", {kOption1, kAntenna, kOption2},
     "zrtool --simulate long-identify",
     [](Call& c) { return ZRLongIdentify(c.handle(), c.byte("option1"), c.byte("antenna"), c.byte("option2")); },
     Kind::send_only},
    {"long-report", "ZRLongReport", "collect one long-inventory report", {},
     "zrtool --simulate long-report", [](Call& c) { return report(c, ZRLongReport); }, Kind::report, true,
     started_by([](int h) { ZRLongIdentify(h, 0, 1, 0); }),
     "a long inventory is started first (long-identify), so that reports wait"},
    {"user-identify", "ZRUserIdentify",
     "start a user inventory with the session's scan settings (reports: user-report)",
     {kOption1, kAntenna, kOption2, byte_arg("option3", "0", "third option byte"),
      byte_arg("option4", "0", "fourth option byte"), byte_arg("option5", "0", "fifth option byte")},
     "zrtool --simulate user-identify",
     [](Call& c) {
         return ZRUserIdentify(c.handle(), c.byte("option1"), c.byte("antenna"), c.byte("option2"), c.byte("option3"),
                               c.byte("option4"), c.byte("option5"));
     },
     Kind::send_only},
    {"user-report", "ZRUserReport", "collect one user-inventory report", {},
     "zrtool --simulate user-report", [](Call& c) { return report(c, ZRUserReport); }, Kind::report, true,
     started_by([](int h) { ZRUserIdentify(h, 0, 1, 0, 0, 0, 0); }),
     "a user inventory is started first (user-identify), so that reports wait"},
});

}  // namespace
}  // namespace zrtool
