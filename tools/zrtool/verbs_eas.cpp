// The EAS alarm: the tag's EAS flag, and the reader's alarm mode with its alarm frames.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const VerbGroup kEas(23, "EAS alarm", {
    {"config-eas-flag", "ZRConfigEASflag", "set a tag's EAS flag under its password",
     {byte_arg("antenna", "1", "antenna byte"), hex_arg("password", 4, "00000000", "access password"),
      byte_arg("flag", "1", "EAS flag value")},
     "zrtool --simulate config-eas-flag --flag 1",
     [](Call& c) { return ZRConfigEASflag(c.handle(), c.byte("antenna"), c.bytes("password"), c.byte("flag")); }},
    {"start-eas-alarm", "ZRStartEASAlarm", "switch the reader's alarm mode on (alarms: eas-alarm-report)",
     {byte_arg("antenna", "1", "antenna byte")},
     "zrtool --simulate start-eas-alarm",
     [](Call& c) { return ZRStartEASAlarm(c.handle(), c.byte("antenna")); }, Kind::send_only},
    {"eas-alarm-report", "ZREASAlarmReport", "collect one alarm frame (0 when none has come)", {},
     "zrtool --simulate eas-alarm-report",
     [](Call& c) {
         auto* buf = c.buffer();
         const int r = ZREASAlarmReport(c.handle(), buf);
         if (r == ZR_OK) c.out("data", hex_trimmed(buf + 1, 255));
         return r;
     },
     Kind::report, true, started_by([](int h) {
         unsigned char password[4] = {};
         ZRConfigEASflag(h, 1, password, 1);
         ZRStartEASAlarm(h, 1);
     }),
     "the first tag's EAS flag is set and the alarm mode started first, so that alarms wait"},
    {"end-eas-alarm", "ZREndEASAlarm", "switch the reader's alarm mode off",
     {byte_arg("antenna", "1", "antenna byte")},
     "zrtool --simulate end-eas-alarm",
     [](Call& c) { return ZREndEASAlarm(c.handle(), c.byte("antenna")); }},
});

}  // namespace
}  // namespace zrtool
