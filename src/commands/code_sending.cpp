// Raw frames sent under 0x5F, three times over.
#include <algorithm>

#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRCodeSending(int handle, int length, int /*reserved*/, const unsigned char* data) {
    return guarded([&] {
        return command(handle, code::code_sending)
            .on_no_session(0)
            .check(length >= 1, 0)
            .check(length <= 253, ZR_ERR_ARGUMENT)  // with LEN and code it fills the 256-byte request
            .with(bytes(data, static_cast<std::size_t>(std::clamp(length, 0, 253))))
            .no_flush()
            .tcp_min(6)
            .checks(kCountCheck | kEchoCheck)
            .unanswered(0)
            .on_failed_send(0)
            .pause_after_error()
            .passes(3)
            .run();
    });
}
