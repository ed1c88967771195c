// Split-phase inventories: a start that only sends, and a report that only receives the
// frames the reader sends back under the same command code.
#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRIdentify(int handle, int antenna, int option) {
    return guarded([&] { return command(handle, code::identify).with(antenna, option).send_only(); });
}

extern "C" ZR_API int ZR_CALL ZRReport(int handle, unsigned char* buffer) {
    return guarded([&] { return report(handle, code::identify).into(buffer); });
}

extern "C" ZR_API int ZR_CALL ZRDirectRead(int handle, int antenna, int option) {
    return guarded([&] { return command(handle, code::direct_read).with(antenna, option).send_only(); });
}

extern "C" ZR_API int ZR_CALL ZRDirectReport(int handle, unsigned char* buffer) {
    return guarded([&] { return report(handle, code::direct_read).into(buffer); });
}

// The antenna goes first on the wire although the caller passes it second.
extern "C" ZR_API int ZR_CALL ZRLongIdentify(int handle, int option1, int antenna, int option2) {
    return guarded([&] { return command(handle, code::long_identify).with(antenna, option1, option2).send_only(); });
}

// Long and user reports take a frame of any command over TCP and answer a reader error with -8.
extern "C" ZR_API int ZR_CALL ZRLongReport(int handle, unsigned char* buffer) {
    return guarded([&] {
        return report(handle, code::long_identify).tcp_min(6).any_code().length_mismatch(0).status_error(ZR_ERR_REPORT_STATUS)
            .into(buffer);
    });
}

extern "C" ZR_API int ZR_CALL ZRUserIdentify(int handle, int option1, int antenna, int option2, int option3,
                                             int option4, int option5) {
    return guarded([&] {
        const auto s = Library::instance().settings();  // one snapshot for every key sent
        return command(handle, code::user_identify)
            .with(antenna, option1, s->scan_tries, s->repeat_datas, s->read_timeout, s->address, s->length,
                  bytes(s->match_data.data(), s->match_data.size()), option2, option3, option4, option5)
            .send_only();
    });
}

extern "C" ZR_API int ZR_CALL ZRUserReport(int handle, unsigned char* buffer) {
    return guarded([&] {
        return report(handle, code::user_identify).tcp_min(6).any_code().length_mismatch(0).status_error(ZR_ERR_REPORT_STATUS)
            .into(buffer);
    });
}
