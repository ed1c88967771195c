#include "protocol/status.h"

#include <array>

#include "api/zr.h"

namespace zr::protocol {
namespace {

struct Named {
    ReaderError error;
    std::uint8_t class3, class12;  // the status byte in each table
    const char* meaning;
};

constexpr Named kNamed[] = {
    {ReaderError::unknown_command, 0x01, 0x01, "unknown command"},
    {ReaderError::bad_request, 0x02, 0x02, "request not understood"},
    {ReaderError::no_tag, 0x61, 0x91, "no tag matches"},
    {ReaderError::wrong_password, 0x62, 0x92, "wrong password"},
    {ReaderError::locked, 0x63, 0x93, "memory locked"},
    {ReaderError::out_of_range, 0x64, 0x3F, "address beyond the tag's memory"},
};

// "reader status 0xNN" and, where a table names it, ": meaning", for every status byte of
// either table, built at compile time so that the texts need no allocation and cannot drift
// from the byte they name.
struct StatusText {
    char text[64];
};

constexpr std::array<StatusText, 256> make_status_texts(bool class3) {
    std::array<StatusText, 256> all{};
    constexpr char prefix[] = "reader status 0x";
    constexpr char digits[] = "0123456789ABCDEF";
    for (unsigned s = 0; s < 256; ++s) {
        auto& t = all[s].text;
        unsigned i = 0;
        for (; prefix[i]; ++i) t[i] = prefix[i];
        t[i++] = digits[s >> 4];
        t[i++] = digits[s & 0xF];
        for (const auto& n : kNamed) {
            if ((class3 ? n.class3 : n.class12) != s) continue;
            t[i++] = ':';
            t[i++] = ' ';
            for (unsigned k = 0; n.meaning[k]; ++k) t[i++] = n.meaning[k];
        }
        t[i] = '\0';
    }
    return all;
}

constexpr std::array<StatusText, 256> kClass3Texts = make_status_texts(true);
constexpr std::array<StatusText, 256> kClass12Texts = make_status_texts(false);

}  // namespace

std::uint8_t status_byte(ReaderError e, int device_class) {
    for (const auto& n : kNamed)
        if (n.error == e) return device_class == 3 ? n.class3 : n.class12;
    return 0x01;
}

const char* status_meaning(std::uint8_t status, int device_class) {
    for (const auto& n : kNamed)
        if ((device_class == 3 ? n.class3 : n.class12) == status) return n.meaning;
    return nullptr;
}

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
    if (s < 0) return nullptr;
    // 4001 to 4013 exist only in the table of classes 1 and 2; the rest read the same in both
    // tables, or exist only in class 3's.
    const auto& texts = result >= 4001 ? kClass12Texts : kClass3Texts;
    return texts[static_cast<std::size_t>(s)].text;
}

}  // namespace zr::protocol
