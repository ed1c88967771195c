// RF power and the reader's I/O lines.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const VerbGroup kPowerIo(41, "Power and I/O", {
    {"power-on", "ZRPowerOn", "switch the RF power on", {byte_arg("value", "0", "value byte, passed through")},
     "zrtool --simulate power-on", [](Call& c) { return ZRPowerOn(c.handle(), c.byte("value")); }},
    {"power-off", "ZRPowerOff", "switch the RF power off", {},
     "zrtool --simulate power-off", [](Call& c) { return ZRPowerOff(c.handle()); }},
    {"power-set", "ZRPowerSet", "set the two power bytes",
     {byte_arg("power0", nullptr, "first power byte"), byte_arg("power1", "0", "second power byte")},
     "zrtool --simulate power-set --power0 0x1E --power1 0",
     [](Call& c) { return ZRPowerSet(c.handle(), 0, 2, c.byte("power0"), c.byte("power1")); }},
    {"power-query", "ZRPowerQuery", "read the power bytes", {byte_arg("length", "2", "bytes to read (at most 52)")},
     "zrtool --simulate power-query",
     [](Call& c) {
         auto* buf = c.buffer();
         const int r = ZRPowerQuery(c.handle(), 0, c.byte("length"), buf);
         if (r == ZR_OK) c.out_hex("power", buf, static_cast<std::size_t>(c.byte("length")));
         return r;
     }},
    {"io-control-set", "ZRIOControlSet", "set an I/O line",
     {byte_arg("selector", nullptr, "which line"), byte_arg("value", nullptr, "the value to set")},
     "zrtool --simulate io-control-set --selector 1 --value 1",
     [](Call& c) { return ZRIOControlSet(c.handle(), c.byte("selector"), c.byte("value")); }},
    {"io-control-query", "ZRIOControlQuery", "poll an I/O line (the answer is the result)",
     {byte_arg("selector", nullptr, "which line")},
     "zrtool --simulate io-control-query --selector 1",
     [](Call& c) { return ZRIOControlQuery(c.handle(), c.byte("selector"), 0); }},
});

}  // namespace
}  // namespace zrtool
