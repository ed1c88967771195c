// The reader's status byte as the library's result code, for decoding frames offline. The
// tool sees only the public API, so it keeps its own copy of the table; a unit test holds it
// to the library's.
#pragma once

#include <cstdint>

namespace zrtool {

// Device class 3 (the library's default) or classes 1 and 2.
constexpr int status_result(std::uint8_t s, int device_class) {
    const bool class3 = device_class == 3;
    if (s == 0x00) return 1;
    if (s >= 0x01 && s <= 0x09) return 1000 + s;
    if (s >= 0x11 && s <= 0x16) return 1010 + (s - 0x11);
    if (s >= 0x20 && s <= 0x26) return 2001 + (s - 0x20);
    if (s == 0x3A) return class3 ? -20 : -7;
    if (s == 0x3F) return class3 ? -20 : -5;
    if (s >= 0x60 && s <= 0x69) return class3 ? 3001 + (s - 0x60) : -20;
    if (s >= 0x90 && s <= 0x9C) return class3 ? -20 : 4001 + (s - 0x90);
    return -20;
}

}  // namespace zrtool
