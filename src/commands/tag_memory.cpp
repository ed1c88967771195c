// Tag memory: identifier-addressed byte reads and writes, password-authorised word reads and
// writes, and a new EPC code.
#include "core/exchange.h"

using namespace zr::core;

namespace {

constexpr int kWriteWaitMs = 500;  // the reader writes the tag before it answers
constexpr int kReadAttempts = 6;
constexpr int kBadEpcLength = ZR_ERR_ADDRESS;

int low_byte(int v) { return v & 0xFF; }

}  // namespace

extern "C" ZR_API int ZR_CALL ZRReadUserData(int handle, int antenna, int address, int byteCount,
                                             const unsigned char* tagId, unsigned char* buffer) {
    return guarded([&] {
        const int n = low_byte(byteCount);
        return command(handle, 0x72)
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
        const int n = low_byte(length);
        return command(handle, 0x73)
            .with(antenna, bytes(tagId, 8), address, n, bytes(data, static_cast<std::size_t>(n)))
            .wait(kWriteWaitMs)
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetEpcCode(int handle, int antenna, const unsigned char* password, int epcLength,
                                           int wordCount, const unsigned char* data) {
    return guarded([&] {
        const int epc_bytes = low_byte(epcLength);
        const int w = low_byte(wordCount);
        return command(handle, 0x83)
            .check(epc_bytes <= 12 && epc_bytes % 2 == 0, kBadEpcLength)
            .with(antenna, bytes(password, 4), w, bytes(data, 2 * static_cast<std::size_t>(w)))
            .wait(kWriteWaitMs)
            .unanswered_gives_send_result()
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRReadUserDataEPC(int handle, const unsigned char* password, int address,
                                                int wordCount, int antenna, unsigned char* buffer) {
    return guarded([&] {
        const int w = low_byte(wordCount);
        return command(handle, 0x84)
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
        const int w = low_byte(wordCount);
        return command(handle, 0x85)
            .with(antenna, bytes(password, 4), address, w, bytes(data, 2 * static_cast<std::size_t>(w)))
            .wait(kWriteWaitMs)
            .run();
    });
}
