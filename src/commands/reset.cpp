#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRReset(int handle) {
    return guarded([&] { return command(handle, code::reset).tcp_min(6).run(); });
}
