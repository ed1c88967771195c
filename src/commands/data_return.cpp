// Data return (0x68): antenna and option, answered with the reader's status.
#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRDataReturn(int handle, int antenna, int option) {
    return guarded([&] {
        return command(handle, code::data_return)
            .check(option >= 0 && option <= 4, ZR_ERR_PARAMETER)
            .with(antenna, option)
            .tcp_min(6)
            .checks(kCountCheck | kLengthCheck)
            .run();
    });
}
