// Tag selection: match data the reader keeps for the tag commands that follow.
#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRSelectTag(int handle, int antenna, int option1, int option2,
                                          const unsigned char* matchData) {
    return guarded([&] {
        return command(handle, code::select_tag).with(antenna, option1, option2, bytes(matchData, 8)).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSelectTagEPC(int handle, int antenna, int option1, int option2,
                                             const unsigned char* matchData, int length) {
    return guarded([&] {
        // LEN, code, antenna and the two options leave 250 bytes of the request.
        const bool fits = length >= 0 && length <= 250;
        const auto n = fits ? static_cast<std::size_t>(length) : 0;
        return command(handle, code::select_tag_epc)
            .check(fits, ZR_ERR_ARGUMENT)
            .with(antenna, option1, option2, bytes(matchData, n))
            .run();
    });
}
