#include <cstdint>
#include <mutex>
#include <string>

#include "commands/system_area.h"

using namespace zr::core;
using zr::commands::system_block_write;

namespace {

constexpr int kMacAddress = 5;
constexpr int kNetAddress = 6;

// A section name that cannot break the INI file's lines or its section header.
bool usable_section(const char* section) {
    if (!section) return false;
    std::string s(section);
    if (s.find_first_not_of(" \t") == std::string::npos) return false;
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7F || c == ']') return false;
    return true;
}

bool add_ipv4(const char* text, unsigned char*& out) {
    std::uint32_t a = 0;
    if (!text || !parse_ipv4(text, a)) return false;
    for (int shift = 24; shift >= 0; shift -= 8) *out++ = static_cast<unsigned char>(a >> shift);
    return true;
}

}  // namespace

extern "C" ZR_API int ZR_CALL ZRMACSet(int handle, int /*reserved*/, int count, const unsigned char* data) {
    return guarded([&] { return system_block_write(handle, kMacAddress, count, data).run(); });
}

extern "C" ZR_API int ZR_CALL ZRNetAddrSet(int handle, int /*reserved*/, const char* section, const char* ipAddress,
                                           const char* subnetMask, const char* gateway) {
    return guarded([&] {
        // A wrapped-around number would move the reader somewhere nobody can reach it:
        // only four numbers 0-255 per text are sent.
        unsigned char block[12] = {};
        unsigned char* at = block;
        const bool valid = usable_section(section) && add_ipv4(ipAddress, at) && add_ipv4(subnetMask, at) &&
                           add_ipv4(gateway, at);
        auto& lib = Library::instance();
        // The session is held to the end: the write and the file that records it are one call.
        const auto session = lib.find(handle);
        const int written =
            system_block_write(handle, kNetAddress, sizeof block, block).on_no_session(0).check(valid, 0).run();
        if (written != ZR_OK) return 0;

        // The reader has its new address now: the next ZROpen must find it in the file, the
        // file this very session was opened from, whatever was opened since.
        const zr::platform::ProfileEntry keys[] = {
            {"ZR_HOST_NAME", ipAddress}, {"ZR_SUBNET", subnetMask}, {"ZR_GATE", gateway}};
        // Two sessions may share one file: their read-edit-replace must not interleave.
        static std::mutex profile_writes;
        std::lock_guard lock(profile_writes);
        const bool saved = lib.os().write_profile(session.config_path(), section, keys);  // all three or none
        return saved ? ZR_OK : ZR_ERR_INTERNAL;
    });
}
