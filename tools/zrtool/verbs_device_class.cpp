// Device class, test mode and interference settings.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const VerbGroup kDeviceClass(43, "Device class, test mode and interference", {
    // The device class lives in the loaded library only: setting it here shows the result and
    // ends with the process.
    {"set-device-class", "ZRSetDeviceClass", "select the device class by reader model code (this process only)",
     {int_arg("model", nullptr, "reader model code")},
     "zrtool set-device-class --model 3",
     [](Call& c) { return ZRSetDeviceClass(0, c.integer("model")); }, Kind::status, false},
    {"get-device-class", "ZRGetDeviceClass", "read the reader's device information", {},
     "zrtool --simulate get-device-class",
     [](Call& c) {
         int value = 0;
         const int r = ZRGetDeviceClass(c.handle(), &value);
         if (r == ZR_OK) c.out("class-value", value);
         return r;
     }},
    {"test-mode-set", "ZRTestModeSet", "put the reader into a test mode", {byte_arg("mode", nullptr, "test mode, 0-4")},
     "zrtool --simulate test-mode-set --mode 1",
     [](Call& c) { return ZRTestModeSet(c.handle(), c.byte("mode")); }},
    {"set-interfere", "ZRSetInterfere", "set the two interference bytes",
     {hex_arg("settings", 2, nullptr, "the interference bytes")},
     "zrtool --simulate set-interfere --settings 0102",
     [](Call& c) { return ZRSetInterfere(c.handle(), c.bytes("settings")); }},
    {"get-interfere", "ZRGetInterfere", "read the two interference bytes", {},
     "zrtool --simulate get-interfere",
     [](Call& c) {
         auto* buf = c.buffer();
         const int r = ZRGetInterfere(c.handle(), buf);
         if (r == ZR_OK) c.out_hex("settings", buf, 2);
         return r;
     }},
    {"close-interfere", "ZRCloseInterfere", "end the interference setting", {},
     "zrtool --simulate close-interfere", [](Call& c) { return ZRCloseInterfere(c.handle()); }},
});

}  // namespace
}  // namespace zrtool
