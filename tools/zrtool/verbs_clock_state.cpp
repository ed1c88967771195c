// The reader's clock, fixed number and state.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const VerbGroup kClockState(44, "Reader clock, identity and state", {
    {"epc-print-power-os", "ZREpcPrintPowerOs", "send the EPC print power setting",
     {byte_arg("value", nullptr, "the setting")},
     "zrtool --simulate epc-print-power-os --value 1",
     [](Call& c) { return ZREpcPrintPowerOs(c.handle(), c.byte("value")); }},
    {"get-reader-state", "ZRGetReaderState", "read six bytes of reader state",
     {byte_arg("value", "0", "value byte, passed through")},
     "zrtool --simulate get-reader-state",
     [](Call& c) {
         auto* buf = c.buffer();
         const int r = ZRGetReaderState(c.handle(), c.byte("value"), buf);
         if (r == ZR_OK) c.out_hex("state", buf, 6);
         return r;
     }},
    {"set-reader-time", "ZRSetReaderTime", "set the reader's clock",
     {hex_arg("time", 6, nullptr, "the six clock bytes, each a binary number: year - 2000 (0-99), month "
                                  "(1-12), day (1-31), hour (0-23), minute, second; 1A0C08150000 is "
                                  "2026-12-08 21:00:00"),
      byte_arg("value", "0", "value byte sent after the clock bytes")},
     "zrtool --simulate set-reader-time --time 1A0C08150000",
     [](Call& c) { return ZRSetReaderTime(c.handle(), c.byte("value"), c.bytes("time")); }},
    {"set-reader-fix-no", "ZRSetReaderfixNO", "set the reader's fixed number", {byte_arg("number", nullptr, "the number")},
     "zrtool --simulate set-reader-fix-no --number 7",
     [](Call& c) { return ZRSetReaderfixNO(c.handle(), c.byte("number")); }},
    {"get-reader-fix-no", "ZRGetReaderfixNO", "query the reader's fixed number (the result only)", {},
     "zrtool --simulate get-reader-fix-no", [](Call& c) { return ZRGetReaderfixNO(c.handle(), 0); }},
});

}  // namespace
}  // namespace zrtool
