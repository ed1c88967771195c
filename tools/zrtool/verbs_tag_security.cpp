// Passwords, locks and kill.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const Arg kAntenna = byte_arg("antenna", "1", "antenna byte");
const Arg kPassword = hex_arg("password", 4, "00000000", "the password that authorises the change");

const VerbGroup kTagSecurity(32, "Passwords, locks and kill", {
    {"lock-user-data", "ZRLockUserData", "lock a byte range of the tag with this identifier",
     {byte_arg("address", "0", "first byte"), kAntenna, hex_arg("tag-id", 8, "E200341201020301", "tag identifier"),
      byte_arg("length", "4", "bytes in the range (address + length at most 224)")},
     "zrtool --simulate lock-user-data --address 0 --length 4",
     [](Call& c) {
         return ZRLockUserData(c.handle(), c.byte("address"), c.byte("antenna"), c.bytes("tag-id"), c.byte("length"));
     }},
    {"set-visit-pwd", "ZRSetVisitPWD", "set the tag's visit password",
     {kAntenna, kPassword, hex_arg("new-password", 4, nullptr, "the password to set")},
     "zrtool --simulate set-visit-pwd --new-password 12345678",
     [](Call& c) {
         return ZRSetVisitPWD(c.handle(), c.byte("antenna"), c.bytes("password"), c.bytes("new-password"));
     }},
    {"set-destroy-pwd", "ZRSetDestroyPWD", "set the tag's destroy password",
     {kAntenna, kPassword, hex_arg("new-password", 4, nullptr, "the password to set")},
     "zrtool --simulate set-destroy-pwd --new-password 12345678",
     [](Call& c) {
         return ZRSetDestroyPWD(c.handle(), c.byte("antenna"), c.bytes("password"), c.bytes("new-password"));
     }},
    {"set-data-locked", "ZRSetDataLocked", "set or clear a lock on a region of the tag",
     {kAntenna, kPassword, byte_arg("mode", "1", "1 locks, 0 unlocks"), byte_arg("region", "3", "region, 0-5")},
     "zrtool --simulate set-data-locked --mode 1 --region 3",
     [](Call& c) {
         return ZRSetDataLocked(c.handle(), c.byte("antenna"), c.bytes("password"), c.byte("mode"), c.byte("region"));
     }},
    {"set-destroy-tag", "ZRSetDestroyTag", "destroy the tag for good",
     {kAntenna, hex_arg("password", 4, nullptr, "the destroy password"),
      hex_arg("data", 0, "0000", "data words sent with the command (an even number of bytes)")},
     "zrtool --simulate set-destroy-tag --password 12345678",
     [](Call& c) {
         return ZRSetDestroyTag(c.handle(), c.byte("antenna"), c.bytes("password"), c.size("data") / 2,
                                c.bytes("data"));
     },
     Kind::status, true, started_by([](int h) {
         unsigned char none[4] = {}, password[4] = {0x12, 0x34, 0x56, 0x78};
         ZRSetDestroyPWD(h, 1, none, password);
     }),
     "the first tag's destroy password is set to 12345678 first (a tag whose destroy password is "
     "00000000 cannot be destroyed)"},
});

}  // namespace
}  // namespace zrtool
