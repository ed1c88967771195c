// The reader's clock, state and fixed number.
#include "core/exchange.h"

using namespace zr::core;

namespace {

constexpr int kStateBytes = 6;
constexpr int kStateReplyLen = 9;  // code, status, one byte, six state bytes

}  // namespace

extern "C" ZR_API int ZR_CALL ZRGetReaderState(int handle, int value, unsigned char* stateBuffer) {
    return guarded([&] {
        return reader_command(handle, code::get_reader_state)
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
    return guarded([&] { return reader_command(handle, code::set_reader_time).with(bytes(timeBytes, 6), value).run(); });
}

extern "C" ZR_API int ZR_CALL ZRSetReaderfixNO(int handle, int fixedNumber) {
    return guarded([&] { return reader_command(handle, code::set_fix_no).with(fixedNumber).run(); });
}

extern "C" ZR_API int ZR_CALL ZRGetReaderfixNO(int handle, unsigned char* /*reserved*/) {
    return guarded([&] { return reader_command(handle, code::get_fix_no).run(); });
}
