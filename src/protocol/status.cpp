#include "protocol/status.h"

#include <array>

#include "api/zr.h"

namespace zr::protocol {
namespace {

// "reader status 0xNN" for every status byte, built at compile time so that the texts need no
// allocation and cannot drift from the byte they name.
struct StatusText {
    char text[20];
};

constexpr std::array<StatusText, 256> make_status_texts() {
    std::array<StatusText, 256> all{};
    constexpr char prefix[] = "reader status 0x";
    constexpr char digits[] = "0123456789ABCDEF";
    for (unsigned s = 0; s < 256; ++s) {
        auto& t = all[s].text;
        unsigned i = 0;
        for (; prefix[i]; ++i) t[i] = prefix[i];
        t[i++] = digits[s >> 4];
        t[i++] = digits[s & 0xF];
        t[i] = '\0';
    }
    return all;
}

constexpr std::array<StatusText, 256> kStatusTexts = make_status_texts();

}  // namespace

int map_status(std::uint8_t s, int device_class) {
    const bool class3 = device_class == 3;
    if (s == 0x00) return ZR_OK;
    if (s >= 0x01 && s <= 0x09) return 1000 + s;
    if (s >= 0x11 && s <= 0x16) return 1010 + (s - 0x11);
    if (s >= 0x20 && s <= 0x26) return 2001 + (s - 0x20);
    if (s == 0x3A) return class3 ? ZR_ERR_UNKNOWN_STATUS : ZR_ERR_STATUS_3A;
    if (s == 0x3F) return class3 ? ZR_ERR_UNKNOWN_STATUS : ZR_ERR_PARAMETER;
    if (s >= 0x60 && s <= 0x69) return class3 ? 3001 + (s - 0x60) : ZR_ERR_UNKNOWN_STATUS;
    if (s >= 0x90 && s <= 0x9C) return class3 ? ZR_ERR_UNKNOWN_STATUS : 4001 + (s - 0x90);
    return ZR_ERR_UNKNOWN_STATUS;
}

int status_of_result(int code) {
    if (code >= 1001 && code <= 1009) return code - 1000;
    if (code >= 1010 && code <= 1015) return 0x11 + (code - 1010);
    if (code >= 2001 && code <= 2007) return 0x20 + (code - 2001);
    if (code >= 3001 && code <= 3010) return 0x60 + (code - 3001);
    if (code >= 4001 && code <= 4013) return 0x90 + (code - 4001);
    return -1;
}

const char* status_result_text(int result) {
    const int s = status_of_result(result);
    return s >= 0 ? kStatusTexts[static_cast<std::size_t>(s)].text : nullptr;
}

}  // namespace zr::protocol
