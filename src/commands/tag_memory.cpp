// Tag memory: identifier-addressed byte reads and writes, password-authorised word reads and
// writes, and a new EPC code.
#include "core/exchange.h"

using namespace zr::core;

namespace {

constexpr int kWriteWaitMs = 500;  // the reader writes the tag before it answers
constexpr int kReadAttempts = 6;
constexpr int kBadEpcLength = ZR_ERR_ADDRESS;
constexpr int kByteMax = 255;        // a count the request carries in one byte
constexpr int kWriteBytesMax = 242;  // LEN, code, antenna, identifier, address and length fill 256
constexpr int kEpcWordsMax = 123;    // LEN, code, antenna, password and count fill 256
constexpr int kUseWordsMax = 123;    // as kEpcWordsMax, plus the address byte: 2w + 10 <= 256

// Limits are judged on the caller's whole int: a cut to 8 bits would act on another value.
bool within(int v, int lo, int hi) { return v >= lo && v <= hi; }
// The data bytes of `count` units of `unit` bytes; none for a refused count.
std::size_t data_size(int count, bool fits, std::size_t unit = 1) {
    return fits ? unit * static_cast<std::size_t>(count) : 0;
}

}  // namespace

extern "C" ZR_API int ZR_CALL ZRReadUserData(int handle, int antenna, int address, int byteCount,
                                             const unsigned char* tagId, unsigned char* buffer) {
    return guarded([&] {
        const int n = byteCount;
        return command(handle, code::read_user_data)
            .check(within(n, 0, kByteMax), ZR_ERR_ARGUMENT)
            .require(buffer)
            .with(antenna, bytes(tagId, 8), address, n)
            .receives(kReadAttempts)
            .on_ok([&](const Reply& r) {
                // Exactly the bytes asked for, or nothing.
                if (r.len() != n + 3) return ZR_ERR_NO_REPLY;
                r.copy(5, static_cast<std::size_t>(n), buffer);
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRWriteUserData(int handle, int antenna, int address, const unsigned char* tagId,
                                              const unsigned char* data, int length) {
    return guarded([&] {
        const bool fits = within(length, 0, kWriteBytesMax);
        return command(handle, code::write_user_data)
            .check(fits, ZR_ERR_ARGUMENT)
            .with(antenna, bytes(tagId, 8), address, length, bytes(data, data_size(length, fits)))
            .wait(kWriteWaitMs)
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetEpcCode(int handle, int antenna, const unsigned char* password, int epcLength,
                                           int wordCount, const unsigned char* data) {
    return guarded([&] {
        const bool fits = within(wordCount, 0, kEpcWordsMax);
        return command(handle, code::set_epc)
            .check(within(epcLength, 0, 12) && epcLength % 2 == 0, kBadEpcLength)
            .check(fits, ZR_ERR_ARGUMENT)
            .with(antenna, bytes(password, 4), wordCount, bytes(data, data_size(wordCount, fits, 2)))
            .wait(kWriteWaitMs)
            .unanswered_gives_send_result()
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRReadUserDataEPC(int handle, const unsigned char* password, int address,
                                                int wordCount, int antenna, unsigned char* buffer) {
    return guarded([&] {
        const int w = wordCount;
        return command(handle, code::read_words)
            .check(within(w, 0, kByteMax), ZR_ERR_ARGUMENT)
            .require(buffer)
            .with(antenna, bytes(password, 4), address, w)
            .receives(kReadAttempts)
            .unanswered(0)
            .on_ok([&](const Reply& r) {
                if (r.len() != 2 * w + 3) return ZR_ERR_NO_REPLY;
                // The frame itself up to its last data byte: the caller finds the words at 5.
                r.copy(0, static_cast<std::size_t>(r.len()) + 2, buffer);
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetUseData(int handle, int antenna, const unsigned char* password, int address,
                                           int wordCount, const unsigned char* data) {
    return guarded([&] {
        const bool fits = within(wordCount, 0, kUseWordsMax);
        return command(handle, code::set_use_data)
            .check(fits, ZR_ERR_ARGUMENT)
            .with(antenna, bytes(password, 4), address, wordCount, bytes(data, data_size(wordCount, fits, 2)))
            .wait(kWriteWaitMs)
            .run();
    });
}
