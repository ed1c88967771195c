// Listening for a frame the reader sends on its own, and answering it.
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
        return listen_for(handle, code::listen)
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
