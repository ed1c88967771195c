#include "commands/parameters.h"

using namespace zr::core;
using zr::commands::system_block_write;

namespace {
constexpr int kPowerAddress = 3;
constexpr int kSystemBlockMax = 52;
}  // namespace

extern "C" ZR_API int ZR_CALL ZRPowerOn(int handle, int value) {
    return guarded([&] { return command(handle, 0x60).with(value).run(); });
}

extern "C" ZR_API int ZR_CALL ZRPowerOff(int handle) {
    // Switching the RF off can take the reader a while: poll for its answer every 250 ms, up to
    // 2.5 s. A TCP receive listens 60 ms by itself, so the wait before it is shorter by that.
    return guarded([&] { return command(handle, 0x61).wait(250, 190).receives(10).flush_after().run(); });
}

extern "C" ZR_API int ZR_CALL ZRPowerSet(int handle, int /*reserved*/, int count, int power0, int power1) {
    return guarded([&] {
        const unsigned char power[2] = {static_cast<unsigned char>(power0), static_cast<unsigned char>(power1)};
        return system_block_write(handle, kPowerAddress, 2, power).check(count <= kSystemBlockMax, ZR_ERR_TOO_LONG).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRPowerQuery(int handle, int /*reserved*/, int length, unsigned char* buffer) {
    return guarded([&] {
        return command(handle, 0x62)
            .check(length <= kSystemBlockMax, ZR_ERR_TOO_LONG)
            .require(buffer)
            .with(kPowerAddress, 0)
            .no_flush()
            .on_tcp_send_failure(ZR_ERR_SEND)
            .wait(500)
            .accept(kCountTest | kEchoTest)
            .on_ok([&](const Reply& r) {
                if (length > 0) r.copy_data(static_cast<std::size_t>(length), buffer);
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRIOControlSet(int handle, int ioSelector, int ioValue) {
    return guarded([&] {
        return command(handle, 0xD1)
            .with(ioSelector, ioValue)
            .no_flush()
            .on_tcp_send_failure(ZR_ERR_SEND)
            .wait(100, 50)
            .accept(kCountTest | kEchoTest)
            .pause_after_error()
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRIOControlQuery(int handle, int ioSelector, int /*reserved*/) {
    return guarded([&] {
        return command(handle, 0xD2)
            .with(ioSelector)
            .no_flush()
            .on_tcp_send_failure(ZR_ERR_SEND)
            .wait(500)
            .accept(kCountTest | kEchoTest)
            .run();
    });
}
