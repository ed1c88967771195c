// Inventories that report tag memory (EPC, TID, user data): split-phase like the plain inventories; the EPC and TID
// reports hand over the whole frame up to its last data byte.
#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRIdentifyEpcCode(int handle, int antenna, int option1, int option2) {
    return guarded([&] { return command(handle, code::identify_epc).with(antenna, option1, option2).send_only(); });
}

extern "C" ZR_API int ZR_CALL ZREpcCodeReport(int handle, unsigned char* buffer) {
    return guarded([&] { return report(handle, code::identify_epc).whole_frame().into(buffer); });
}

extern "C" ZR_API int ZR_CALL ZRIdentifyTIDCode(int handle, int antenna, int option1, int option2,
                                                const unsigned char* password) {
    return guarded([&] {
        return command(handle, code::identify_tid).with(antenna, option1, option2, bytes(password, 4)).send_only();
    });
}

extern "C" ZR_API int ZR_CALL ZRTIDCodeReport(int handle, unsigned char* buffer) {
    return guarded([&] { return report(handle, code::identify_tid).whole_frame().into(buffer); });
}

// The antenna byte is the session's "ZR_ANTENNA_CONCTL", whatever the caller wants.
extern "C" ZR_API int ZR_CALL ZRGetUseData(int handle, const unsigned char* password, int address, int wordCount,
                                           int /*reserved*/) {
    return guarded([&] {
        // The whole ints are judged: a cut to 8 bits would read other words than asked for.
        return command(handle, code::read_words)
            .check(address >= 0 && address <= 14, ZR_ERR_ADDRESS)
            .check(wordCount >= 0 && std::int64_t{address} + 2 * std::int64_t{wordCount} <= 28, ZR_ERR_RANGE)
            .with(Library::instance().settings()->antenna_control, bytes(password, 4), address, wordCount)
            .send_only();
    });
}

extern "C" ZR_API int ZR_CALL ZRGetUseDataReport(int handle, unsigned char* buffer) {
    return guarded([&] { return report(handle, code::read_words).length_mismatch(0).into(buffer); });
}
