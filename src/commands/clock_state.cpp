#include "core/exchange.h"

using namespace zr::core;

namespace {

constexpr int kStateBytes = 6;
constexpr int kStateReplyLen = 9;  // code, status, one byte, six state bytes

// The commands that address the reader itself: over TCP their replies run to 11 bytes at least.
Command reader_command(int handle, std::uint8_t code) {
    return std::move(command(handle, code).tcp_min(9).accept(kCountTest | kLengthTest));
}

}  // namespace

extern "C" ZR_API int ZR_CALL ZREpcPrintPowerOs(int handle, int value) {
    return guarded([&] { return reader_command(handle, 0x6D).with(value).run(); });
}

extern "C" ZR_API int ZR_CALL ZRGetReaderState(int handle, int value, unsigned char* stateBuffer) {
    return guarded([&] {
        return reader_command(handle, 0xA0)
            .require(stateBuffer)
            .with(value)
            .on_ok([&](const Reply& r) {
                // A reply without all six state bytes has nothing trustworthy to hand out.
                if (r.len() < kStateReplyLen) return ZR_ERR_NO_REPLY;
                r.copy(5, kStateBytes, stateBuffer);
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetReaderTime(int handle, int value, const unsigned char* timeBytes) {
    return guarded([&] { return reader_command(handle, 0xA2).with(bytes(timeBytes, 6), value).run(); });
}

extern "C" ZR_API int ZR_CALL ZRSetReaderfixNO(int handle, int fixedNumber) {
    return guarded([&] { return reader_command(handle, 0xA3).with(fixedNumber).run(); });
}

extern "C" ZR_API int ZR_CALL ZRGetReaderfixNO(int handle, unsigned char* /*reserved*/) {
    return guarded([&] { return reader_command(handle, 0xA4).run(); });
}
