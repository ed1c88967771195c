#include "commands/system_area.h"

using namespace zr::core;
using zr::commands::system_block_write;

namespace {
constexpr int kPowerAddress = 3;
constexpr int kSystemBlockMax = 52;
}  // namespace

extern "C" ZR_API int ZR_CALL ZRPowerOn(int handle, int value) {
    return guarded([&] { return command(handle, code::power_on).with(value).run(); });
}

extern "C" ZR_API int ZR_CALL ZRPowerOff(int handle) {
    // Switching the RF off can take the reader a while: poll for its answer every 250 ms, up to
    // 2.5 s. A TCP receive listens 60 ms by itself, so the wait before it is shorter by that.
    return guarded([&] { return command(handle, code::power_off).wait(250, 190).receives(10).flush_after().run(); });
}

extern "C" ZR_API int ZR_CALL ZRPowerSet(int handle, int /*reserved*/, int count, int power0, int power1) {
    return guarded([&] {
        const unsigned char power[2] = {static_cast<unsigned char>(power0), static_cast<unsigned char>(power1)};
        return system_block_write(handle, kPowerAddress, 2, power).check(count <= kSystemBlockMax, ZR_ERR_TOO_LONG).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRPowerQuery(int handle, int /*reserved*/, int length, unsigned char* buffer) {
    return guarded([&] {
        return query(handle, code::sys_query)
            .check(length <= kSystemBlockMax, ZR_ERR_TOO_LONG)
            .require(buffer)
            .with(kPowerAddress, 0)
            .on_ok([&](const Reply& r) {
                if (length > 0) r.copy_data(static_cast<std::size_t>(length), buffer);
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZREpcPrintPowerOs(int handle, int value) {
    return guarded([&] { return reader_command(handle, code::epc_print_power).with(value).run(); });
}

extern "C" ZR_API int ZR_CALL ZRIOControlSet(int handle, int ioSelector, int ioValue) {
    return guarded([&] {
        return command(handle, code::io_control_set)
            .with(ioSelector, ioValue)
            .no_flush()
            .on_known_send_failure(ZR_ERR_SEND)
            .wait(100, 50)
            .checks(kCountCheck | kEchoCheck)
            .pause_after_error()
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRIOControlQuery(int handle, int ioSelector, int /*reserved*/) {
    return guarded([&] {
        return query(handle, code::io_control_query).with(ioSelector).run();
    });
}
