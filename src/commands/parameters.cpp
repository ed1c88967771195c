#include "commands/system_area.h"

#include <algorithm>

using namespace zr::core;

namespace zr::commands {
namespace {

constexpr int kSystemBlockMax = 52;
constexpr int kTagQueryMax = 252;  // status, data and frame header fill the 256-byte reply
constexpr int kTagBlockMax = 251;  // LEN, code, address and count fill the 256-byte request
constexpr int kFrameCopy = 54;
constexpr int kAreaAddressMax = 255;   // the query carries its address in one byte
constexpr unsigned kSysSetEnd = 0x10000;  // the byte writes carry a 16-bit address
// A reader needs a few milliseconds to answer a byte write: poll for the reply rather than
// look once at an empty line, which would report every byte as unanswered.
constexpr int kByteWritePollMs = 10;
constexpr int kByteWritePolls = 10;

// The block write on either area; the size checks come before the data is looked at.
Command block_write(int handle, std::uint8_t code, int address, int count, const unsigned char* data, int limit,
                    int too_long) {
    return command(handle, code)
        .check(count <= limit, too_long)
        .check(count >= 0, ZR_ERR_ARGUMENT)
        .with(address, count, bytes(data, count > 0 ? static_cast<std::size_t>(count) : 0))
        .no_flush()
        .wait(100, 50)
        .checks(kCountCheck | kEchoCheck)
        .on_known_send_failure(0)
        .pause_after_error();
}

// The query on either area: `length` data bytes from reply index 4 into `buffer`. Length and
// address are judged whole: a cut to 8 bits would fill another number of bytes than asked for.
int area_query(int handle, std::uint8_t code, int address, int length, unsigned char* buffer, int limit,
               int too_long) {
    const int n = length;
    return query(handle, code)
        .check(n <= limit, too_long)
        .check(n >= 0, ZR_ERR_ARGUMENT)
        .check(address >= 0 && address <= kAreaAddressMax, ZR_ERR_ARGUMENT)
        .require(buffer)
        .with(address, n)
        .tcp_min(std::clamp(n, 0, limit) + 4)  // a refused length must not overflow here either
        .on_ok([&](const Reply& r) {
            r.copy_data(static_cast<std::size_t>(n), buffer);
            return ZR_OK;
        })
        .run();
}

}  // namespace

Command system_block_write(int handle, int address, int count, const unsigned char* data) {
    return block_write(handle, code::sys_set, address, count, data, kSystemBlockMax, ZR_ERR_TOO_LONG);
}


}  // namespace zr::commands

using namespace zr::commands;

extern "C" ZR_API int ZR_CALL ZRSysQuery(int handle, int address, int length, unsigned char* buffer) {
    return guarded([&] { return area_query(handle, code::sys_query, address, length, buffer, kSystemBlockMax, ZR_ERR_TOO_LONG); });
}

extern "C" ZR_API int ZR_CALL ZRTagQuery(int handle, int address, int length, unsigned char* buffer) {
    return guarded([&] { return area_query(handle, code::tag_query, address, length, buffer, kTagQueryMax, ZR_ERR_ARGUMENT); });
}

extern "C" ZR_API int ZR_CALL ZRSysFastSet(int handle, int address, int count, const unsigned char* data) {
    return guarded([&] { return system_block_write(handle, address, count, data).run(); });
}

extern "C" ZR_API int ZR_CALL ZRTagFastSet(int handle, int address, int count, const unsigned char* data) {
    return guarded([&] {
        return block_write(handle, code::tag_set, address, count, data, kTagBlockMax, ZR_ERR_ARGUMENT).run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSysSet(int handle, int address, int count, const unsigned char* data) {
    return guarded([&] {
        // One frame per byte; the last byte's result is the call's.
        auto one_byte = [&](unsigned at, unsigned char value) {
            return command(handle, code::sys_set)
                .with(static_cast<int>(at >> 8), static_cast<int>(at), value)
                .no_flush()
                .wait(kByteWritePollMs)
                .receives(kByteWritePolls)
                .checks(kCountCheck)
                .pause_after_error();
        };
        // Past 0xFFFF the 16-bit address would wrap round onto other bytes.
        const bool fits = address >= 0 && std::int64_t{address} + count <= std::int64_t{kSysSetEnd};
        auto first = one_byte(0, 0)
                         .check(count <= kSystemBlockMax, ZR_ERR_TOO_LONG)
                         .check(count > 0, 0)
                         .require(data)
                         .check(fits, ZR_ERR_ARGUMENT);
        if (auto refused = first.refused()) return *refused;
        if (!first.profile().byte_writes) return 0;  // nothing is sent
        int result = 0;
        for (int i = 0; i < count; ++i) {
            auto byte = one_byte(static_cast<unsigned>(address) + static_cast<unsigned>(i), data[i]);
            if (i > 0) byte.continues_call();
            result = byte.run();
        }
        return result;
    });
}

extern "C" ZR_API int ZR_CALL ZRFreqQuery(int handle, int address, int length, unsigned char* buffer) {
    return guarded([&] {
        return query(handle, code::sys_query)
            .check(length <= kSystemBlockMax, ZR_ERR_TOO_LONG)
            .check(length >= 0, ZR_ERR_ARGUMENT)
            .require(buffer)
            .with(address, 0)
            .wait(200, 100)
            .on_ok([&](const Reply& r) {
                r.copy(0, kFrameCopy, buffer);  // the raw frame; zeros past it
                return ZR_OK;
            })
            .run();
    });
}

extern "C" ZR_API int ZR_CALL ZRSetReadCfg(int handle, int readMode, int readOption) {
    return guarded([&] {
        return command(handle, code::tag_query)
            .check(readMode >= 1 && readMode <= 4 && readOption >= 1 && readOption <= 2, ZR_ERR_PARAMETER)
            .with(Library::instance().settings()->antenna_control, readMode, readOption)
            .tcp_min(7)
            .checks(kCountCheck | kLengthCheck)
            .run();
    });
}
