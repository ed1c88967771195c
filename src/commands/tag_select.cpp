// Tag selection: match data the reader keeps for the tag commands that follow.
#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRSelectTag(int handle, int antenna, int option1, int option2,
                                          const unsigned char* matchData) {
    return guarded([&] {
        return command(handle, 0x70).with(antenna, option1, option2, bytes(matchData, 8)).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSelectTagEPC(int handle, int antenna, int option1, int option2,
                                             const unsigned char* matchData, int length) {
    return guarded([&] {
        const auto n = static_cast<std::size_t>(length & 0xFF);
        return command(handle, 0x80).with(antenna, option1, option2, bytes(matchData, n)).run();
    });
}
