// Passwords, locks and kill.
#include "core/exchange.h"

using namespace zr::core;

namespace {

constexpr int kLockableEnd = 224;  // a byte range to lock must end here or before
constexpr int kDataLockWaitMs = 200;
constexpr int kDestroyWordsMax = 124;  // LEN, code, antenna and password leave 248 data bytes

// Limits are judged on the caller's whole int: a lock of a cut-down range cannot be undone.
bool within(int v, int lo, int hi) { return v >= lo && v <= hi; }

}  // namespace

extern "C" ZR_API int ZR_CALL ZRLockUserData(int handle, int address, int antenna, const unsigned char* tagId,
                                             int length) {
    return guarded([&] {
        return command(handle, code::lock_user_data)
            .check(address >= 0 && length >= 0 && std::int64_t{address} + length <= kLockableEnd, ZR_ERR_RANGE)
            .no_flush()
            .with(antenna, bytes(tagId, 8), address, length)
            .on_any_send_failure(0)
            .receives(Library::instance().settings()->read_tries)
            .fails_with(ZR_ERR_RANGE)
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetVisitPWD(int handle, int antenna, const unsigned char* password,
                                            const unsigned char* newPassword) {
    return guarded([&] {
        return command(handle, code::set_visit_pwd).with(antenna, bytes(password, 4), bytes(newPassword, 4)).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetDestroyPWD(int handle, int antenna, const unsigned char* password,
                                              const unsigned char* newPassword) {
    return guarded([&] {
        return command(handle, code::set_destroy_pwd).with(antenna, bytes(password, 4), bytes(newPassword, 4)).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetDataLocked(int handle, int antenna, const unsigned char* password, int mode,
                                              int region) {
    return guarded([&] {
        return command(handle, code::set_data_locked)
            .check(within(mode, 0, 1) && within(region, 0, 5), ZR_ERR_PARAMETER)
            .with(antenna, bytes(password, 4), mode, region)
            .wait(kDataLockWaitMs)
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetDestroyTag(int handle, int antenna, const unsigned char* password,
                                              int wordCount, const unsigned char* data) {
    return guarded([&] {
        const bool fits = within(wordCount, 0, kDestroyWordsMax);
        const std::size_t w = fits ? static_cast<std::size_t>(wordCount) : 0;
        // The word count is not sent: the reader takes the data length from LEN.
        return command(handle, code::destroy_tag)
            .check(fits, ZR_ERR_ARGUMENT)
            .with(antenna, bytes(password, 4), bytes(data, 2 * w))
            .status_only()
            .run();
    });
}
