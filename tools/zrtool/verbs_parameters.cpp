// The reader's system and tag parameter areas.
#include <algorithm>

#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const Arg kAddress = byte_arg("address", "0", "first byte of the area");

int query(Call& c, int(ZR_CALL* fn)(int, int, int, unsigned char*)) {
    auto* buf = c.buffer();
    const int n = c.byte("length");
    const int r = fn(c.handle(), c.byte("address"), n, buf);
    if (r == ZR_OK) c.out_hex("data", buf, static_cast<std::size_t>(n));
    return r;
}

const VerbGroup kParameters(40, "System and tag parameter areas", {
    {"sys-query", "ZRSysQuery", "read bytes of the system parameter area",
     {kAddress, byte_arg("length", "8", "bytes to read (at most 52)")},
     "zrtool --simulate sys-query --address 0 --length 8", [](Call& c) { return query(c, ZRSysQuery); }},
    {"sys-set", "ZRSysSet", "write the system parameter area one byte per frame (serial only)",
     {int_arg("address", "0", "first byte (16-bit)"), hex_arg("data", 0, nullptr, "the bytes to write (at most 52)")},
     "zrtool --simulate --serial sys-set --address 0x10 --data 01",
     [](Call& c) { return ZRSysSet(c.handle(), c.integer("address"), c.size("data"), c.bytes("data")); }},
    {"sys-fast-set", "ZRSysFastSet", "write bytes of the system parameter area in one frame",
     {kAddress, hex_arg("data", 0, nullptr, "the bytes to write (at most 52)")},
     "zrtool --simulate sys-fast-set --address 0x10 --data 0102",
     [](Call& c) { return ZRSysFastSet(c.handle(), c.byte("address"), c.size("data"), c.bytes("data")); }},
    {"tag-query", "ZRTagQuery", "read bytes of the tag parameter area",
     {kAddress, byte_arg("length", "8", "bytes to read")},
     "zrtool --simulate tag-query --length 8", [](Call& c) { return query(c, ZRTagQuery); }},
    {"tag-fast-set", "ZRTagFastSet", "write bytes of the tag parameter area in one frame",
     {kAddress, hex_arg("data", 0, nullptr, "the bytes to write")},
     "zrtool --simulate tag-fast-set --address 0 --data 01",
     [](Call& c) { return ZRTagFastSet(c.handle(), c.byte("address"), c.size("data"), c.bytes("data")); }},
    {"freq-query", "ZRFreqQuery", "read the frequency settings: the reader's raw reply",
     {kAddress, byte_arg("length", "0", "size argument (at most 52); the reply comes whole")},
     "zrtool --simulate freq-query",
     [](Call& c) {
         auto* buf = c.buffer();
         const int r = ZRFreqQuery(c.handle(), c.byte("address"), c.byte("length"), buf);
         if (r == ZR_OK) {
             const int len = buf[0] * 256 + buf[1];
             c.out_hex("reply", buf, static_cast<std::size_t>(std::min(54, len + 2)));
         }
         return r;
     }},
    {"set-read-cfg", "ZRSetReadCfg", "send a read configuration",
     {byte_arg("mode", "1", "read mode, 1-4"), byte_arg("option", "1", "read option, 1-2")},
     "zrtool --simulate set-read-cfg --mode 1 --option 1",
     [](Call& c) { return ZRSetReadCfg(c.handle(), c.byte("mode"), c.byte("option")); }},
});

}  // namespace
}  // namespace zrtool
