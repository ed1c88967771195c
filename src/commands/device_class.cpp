#include "core/exchange.h"

using namespace zr::core;

namespace {

constexpr int kDeviceInfoAddress = 0x21;

// Class 3 readers and those of classes 1 and 2 know the interference commands under
// different codes.
std::uint8_t interference_code(std::uint8_t class3_code, std::uint8_t class12_code) {
    return Library::instance().device_class() == 3 ? class3_code : class12_code;
}

std::uint8_t antenna_control() { return Library::instance().settings()->antenna_control; }

}  // namespace

extern "C" ZR_API int ZR_CALL ZRSetDeviceClass(int /*reserved*/, int modelCode) {
    return guarded([&] {
        switch (modelCode) {
            case ZR_MODEL_CLASS1: Library::instance().set_device_class(1); return ZR_OK;
            case ZR_MODEL_CLASS2: Library::instance().set_device_class(2); return ZR_OK;
            case ZR_MODEL_CLASS3: Library::instance().set_device_class(3); return ZR_OK;
            default: return ZR_ERR_MODEL;
        }
    });
}

extern "C" ZR_API int ZR_CALL ZRGetDeviceClass(int handle, int* classValue) {
    return guarded([&] {
        return command(handle, code::sys_query)
            .require(classValue)
            .with(kDeviceInfoAddress, 0)
            .on_known_send_failure(ZR_ERR_SEND)
            .wait(200, 100)
            .checks(kCountCheck | kEchoCheck)
            .on_ok([&](const Reply& r) {
                unsigned char info[4];
                r.copy_data(sizeof info, info);
                *classValue = static_cast<int>(static_cast<std::uint32_t>(info[0]) | std::uint32_t{info[1]} << 8 |
                                               std::uint32_t{info[2]} << 16 | std::uint32_t{info[3]} << 24);
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRTestModeSet(int handle, int mode) {
    return guarded([&] {
        return command(handle, code::reset).check(mode >= 0 && mode <= 4, ZR_ERR_PARAMETER).with(mode).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetInterfere(int handle, const unsigned char* settings) {
    return guarded([&] {
        return command(handle, interference_code(code::set_interfere, code::set_interfere_12))
            .with(bytes(settings, 2), antenna_control())
            .tcp_min(6)
            .checks(kCountCheck | kLengthCheck)
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRGetInterfere(int handle, unsigned char* settings) {
    return guarded([&] {
        return command(handle, interference_code(code::get_interfere, code::get_interfere_12))
            .require(settings)
            .with(antenna_control())
            .tcp_min(9)
            .checks(kCountCheck | kLengthCheck)
            .on_ok([&](const Reply& r) {
                unsigned char data[3];  // the first data byte is not handed out
                r.copy_data(sizeof data, data);
                settings[0] = data[1];
                settings[1] = data[2];
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRCloseInterfere(int handle) {
    return guarded([&] {
        return command(handle, interference_code(code::close_interfere, code::close_interfere_12)).tcp_min(6).checks(kCountCheck | kLengthCheck).run();
    });
}
