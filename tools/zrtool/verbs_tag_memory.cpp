// Tag memory: by identifier in bytes, or under a password in 16-bit words.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const Arg kAntenna = byte_arg("antenna", "1", "antenna byte");
const Arg kTagId = hex_arg("tag-id", 8, "E200341201020301", "tag identifier");
const Arg kPassword = hex_arg("password", 4, "00000000", "access password");

// Words given as hex: their number is half the bytes.
int words(const Call& c, const char* name) { return c.size(name) / 2; }

const VerbGroup kTagMemory(30, "Tag memory", {
    {"read-user-data", "ZRReadUserData", "read bytes of user memory from the tag with this identifier",
     {kAntenna, byte_arg("address", "0", "first byte"), byte_arg("count", "8", "bytes to read"), kTagId},
     "zrtool --simulate read-user-data --tag-id E200341201020301 --count 8",
     [](Call& c) {
         auto* buf = c.buffer();
         const int r = ZRReadUserData(c.handle(), c.byte("antenna"), c.byte("address"), c.byte("count"),
                                      c.bytes("tag-id"), buf);
         if (r == ZR_OK) c.out_hex("data", buf, static_cast<std::size_t>(c.byte("count")));
         return r;
     }},
    {"write-user-data", "ZRWriteUserData", "write bytes to user memory of the tag with this identifier",
     {kAntenna, byte_arg("address", "0", "first byte"), kTagId, hex_arg("data", 0, nullptr, "the bytes to write")},
     "zrtool --simulate write-user-data --tag-id E200341201020301 --data C0FFEE01",
     [](Call& c) {
         return ZRWriteUserData(c.handle(), c.byte("antenna"), c.byte("address"), c.bytes("tag-id"), c.bytes("data"),
                                c.size("data"));
     }},
    {"set-epc", "ZRSetEpcCode",
     "write a new EPC code to the first tag that answers (select one first, or use encode)",
     {kAntenna, kPassword, hex_arg("epc", 0, nullptr, "the new EPC, a whole number of words (at most 12 bytes)")},
     "zrtool --simulate set-epc --epc 300833B2DDD9014000000001",
     [](Call& c) {
         return ZRSetEpcCode(c.handle(), c.byte("antenna"), c.bytes("password"), c.size("epc"), words(c, "epc"),
                             c.bytes("epc"));
     }},
    {"read-user-data-epc", "ZRReadUserDataEPC", "read words of user memory under a password",
     {kPassword, byte_arg("address", "0", "first word"), byte_arg("words", "2", "words to read"), kAntenna},
     "zrtool --simulate read-user-data-epc --words 2",
     [](Call& c) {
         auto* buf = c.buffer();
         const int w = c.byte("words");
         const int r = ZRReadUserDataEPC(c.handle(), c.bytes("password"), c.byte("address"), w, c.byte("antenna"), buf);
         if (r == ZR_OK) c.out_hex("data", buf + 5, static_cast<std::size_t>(2 * w));
         return r;
     }},
    {"set-use-data", "ZRSetUseData",
     "write words of user memory of the first tag that answers (select one first, or use encode)",
     {kAntenna, kPassword, byte_arg("address", "0", "first word"),
      hex_arg("data", 0, nullptr, "the words to write (an even number of bytes)")},
     "zrtool --simulate set-use-data --data C0FFEE01",
     [](Call& c) {
         return ZRSetUseData(c.handle(), c.byte("antenna"), c.bytes("password"), c.byte("address"), words(c, "data"),
                             c.bytes("data"));
     }},
});

}  // namespace
}  // namespace zrtool
