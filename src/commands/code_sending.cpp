// Raw frames sent under 0x5F, three times over.
#include <algorithm>

#include "core/exchange.h"

using namespace zr::core;

namespace {
constexpr int kPasses = 3;
}  // namespace

extern "C" ZR_API int ZR_CALL ZRCodeSending(int handle, int length, int /*reserved*/, const unsigned char* data) {
    return guarded([&] {
        auto pass = [&] {
            return command(handle, code::code_sending)
                .on_no_session(0)
                .check(length >= 1, 0)
                .check(length <= 253, ZR_ERR_ARGUMENT)  // with LEN and code it fills the 256-byte request
                .with(bytes(data, static_cast<std::size_t>(std::clamp(length, 0, 253))))
                .no_flush()
                .tcp_min(6)
                .checks(kCountCheck | kEchoCheck)
                .unanswered(0)
                .on_known_send_failure(0)
                .pause_after_error();
        };
        // Three passes, each run to its end whatever the one before gave; the last one's result
        // is the call's. A send the link knows failed ends the call at once.
        auto first = pass();  // holds the session for all three passes
        if (auto refused = first.refused()) return *refused;
        int result = first.run();
        for (int i = 1; i < kPasses && !first.send_failed(); ++i) {
            auto again = pass().continues_call();
            result = again.run();
            if (again.send_failed()) break;
        }
        return result;
    });
}
