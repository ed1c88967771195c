// Listening for the reader's own frame, data return, and raw frames sent under 0x5F.
#include <algorithm>

#include "core/exchange.h"

using namespace zr::core;

namespace {
constexpr int kListenFrameMin = 21;  // up to index 18 of data, then the CRC
constexpr std::uint8_t kAckRefused = 0x3F;
}  // namespace

extern "C" ZR_API int ZR_CALL ZRListenReader(int handle, int /*reserved*/, unsigned char* lastSix,
                                             unsigned char* firstBlock, unsigned char* secondBlock) {
    return guarded([&] {
        return listen_for(handle, 0xA1)
            .require(lastSix).require(firstBlock).require(secondBlock)
            .clears(lastSix, 6).clears(firstBlock, 8).clears(secondBlock, 8)
            .tcp_min(26)
            // A frame too short to hold the 16 data bytes would hand out its CRC as data.
            .min_count(kListenFrameMin)
            .on_accept([&](const Reply& r) {
                r.copy(3, 8, firstBlock);
                r.copy(11, 8, secondBlock);
                r.copy(13, 6, lastSix);
            })
            .answer([&](const Reply* r) {
                std::vector<std::uint8_t> ack(10, 0);  // status, the first block, the echoed byte
                ack[0] = r ? 0x00 : kAckRefused;
                std::copy_n(firstBlock, 8, ack.begin() + 1);
                ack[9] = r ? (*r)[12] : 0;
                return ack;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRDataReturn(int handle, int antenna, int option) {
    return guarded([&] {
        return command(handle, 0x68)
            .check(option >= 0 && option <= 4, ZR_ERR_PARAMETER)
            .with(antenna, option)
            .tcp_min(6)
            .accept(kCountTest | kLengthTest)
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRCodeSending(int handle, int length, int /*reserved*/, const unsigned char* data) {
    return guarded([&] {
        return command(handle, 0x5F)
            .on_no_session(0)
            .check(length >= 1, 0)
            .check(length <= 253, ZR_ERR_ARGUMENT)  // with LEN and code it fills the 256-byte request
            .with(bytes(data, static_cast<std::size_t>(std::clamp(length, 0, 253))))
            .no_flush()
            .tcp_min(6)
            .accept(kCountTest | kEchoTest)
            .unanswered(0)
            .on_tcp_send_failure(0)
            .pause_after_error()
            .passes(3)
            .run();
    });
}
