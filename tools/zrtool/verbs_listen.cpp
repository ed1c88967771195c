// Listening for a frame the reader sends on its own, data return, and raw code sending.
#include <chrono>
#include <thread>

#include "verb.h"
#ifdef ZRTOOL_SIMULATOR
#include "server.h"
#include "units/inventory.h"
#endif
#include "zr.h"

namespace zrtool {
namespace {

// With --simulate, a listen frame waits for listen-reader; zrtool has no simulator on Windows.
#ifdef ZRTOOL_SIMULATOR
void push_listen_frame(int, zr::sim::Simulator& sim) {
    sim.with_model([](zr::sim::ReaderModel& m) { m.unit<zr::sim::InventoryUnit>().push_listen_frame(m); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}
#else
constexpr std::nullptr_t push_listen_frame = nullptr;
#endif

const VerbGroup kListen(22, "Listening, data return and code sending", {
    {"listen-reader", "ZRListenReader", "take a frame the reader sent on its own and acknowledge it", {},
     "zrtool --simulate listen-reader",
     [](Call& c) {
         unsigned char* last_six = c.buffer();
         unsigned char* first = c.buffer();
         unsigned char* second = c.buffer();
         const int r = ZRListenReader(c.handle(), 0, last_six, first, second);
         if (r == ZR_OK) {
             c.out_hex("first-block", first, 8);
             c.out_hex("second-block", second, 8);
             c.out_hex("last-six", last_six, 6);
         }
         return r;
     },
     Kind::status, true,
     push_listen_frame,
     "the simulator first sends a listen frame of its own (zrsim does so on SIGUSR1)"},
    {"data-return", "ZRDataReturn", "send the data-return option",
     {byte_arg("antenna", "1", "antenna byte"), byte_arg("option", "0", "option, 0-4")},
     "zrtool --simulate data-return --option 1",
     [](Call& c) { return ZRDataReturn(c.handle(), c.byte("antenna"), c.byte("option")); }},
    {"code-sending", "ZRCodeSending", "send bytes under command 0x5F, three times; the result of the last",
     {hex_arg("data", 0, nullptr, "the bytes to send (1-253)")},
     "zrtool --simulate code-sending --data 1020",
     [](Call& c) { return ZRCodeSending(c.handle(), c.size("data"), 0, c.bytes("data")); }},
});

}  // namespace
}  // namespace zrtool
