// Windows: serial ports through the comm API, Windows Sockets 1.1 with select, INI files
// through the private-profile functions. Winsock itself is started by DllMain.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zr::platform {
namespace {

std::chrono::microseconds monotonic_now() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);  // never fails on XP and later
        return f.QuadPart > 0 ? f.QuadPart : 1;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    // Split so that count * 1e6 cannot overflow after long uptimes.
    const LONGLONG seconds = c.QuadPart / frequency;
    const LONGLONG rest = c.QuadPart % frequency;
    return std::chrono::microseconds(seconds * 1000000 + rest * 1000000 / frequency);
}

// "COM10" and above can only be opened through the device namespace; "COM3" works either way.
std::string device_path(const std::string& name) {
    auto is_com = name.size() > 3 &&
                  std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                  std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                  std::toupper(static_cast<unsigned char>(name[2])) == 'M' &&
                  std::all_of(name.begin() + 3, name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    return is_com ? "\\\\.\\" + name : name;
}

// Ports this library holds. Windows refuses a second unshared open of a serial port, but
// not every environment does (Wine, some virtual port drivers); the library promises it.
std::set<std::string>& ports_in_use() {
    static std::set<std::string> ports;
    return ports;
}

std::string port_key(const std::string& path) {
    std::string key = path;
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort(HANDLE h, std::string key) : h_(h), key_(std::move(key)) { ports_in_use().insert(key_); }
    ~Win32SerialPort() override {
        if (h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
            ports_in_use().erase(key_);
        }
    }
    int read_byte() override {
        if (peeked_ >= 0) {
            int b = peeked_;
            peeked_ = -1;
            return b;
        }
        return read_now();
    }
    bool write_byte(std::uint8_t byte) override {
        DWORD written = 0;
        return WriteFile(h_, &byte, 1, &written, nullptr) && written == 1;
    }
    void flush() override { FlushFileBuffers(h_); }
    bool wait_readable(std::chrono::microseconds limit) override {
        // Comm handles cannot be waited on with the read time-outs we use, so look ahead:
        // a byte read while waiting is kept for the next read_byte.
        if (peeked_ >= 0) return true;
        const auto deadline = monotonic_now() + limit;
        for (;;) {
            peeked_ = read_now();
            if (peeked_ >= 0) return true;
            auto left = deadline - monotonic_now();
            if (left.count() <= 0) return false;
            Sleep(left >= std::chrono::milliseconds(1) ? 1 : 0);
        }
    }
    bool close() override {
        // A refused close keeps the port: the session stays open and may close it again.
        if (!CloseHandle(h_)) return false;
        h_ = INVALID_HANDLE_VALUE;
        peeked_ = -1;
        ports_in_use().erase(key_);
        return true;
    }

private:
    int read_now() {
        unsigned char b = 0;
        DWORD got = 0;
        return ReadFile(h_, &b, 1, &got, nullptr) && got == 1 ? b : -1;
    }

    HANDLE h_;
    std::string key_;
    int peeked_ = -1;
};

timeval limit_of(int ms) {
    if (ms < 0) ms = 0;
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    return tv;
}

class Win32Socket final : public Socket {
public:
    explicit Win32Socket(SOCKET s) : s_(s) {}
    ~Win32Socket() override {
        if (s_ != INVALID_SOCKET) closesocket(s_);
    }
    Ready wait_connected(int ms) override {
        // A refused attempt shows in the exception set, which wait_writable watches.
        Ready r = wait_writable(ms);
        if (r != Ready::yes) return r;
        // Some stacks also mark a failed attempt writable; its pending error tells.
        int err = 0;
        int len = sizeof err;
        if (getsockopt(s_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0)
            return Ready::error;
        return Ready::yes;
    }
    Ready wait_writable(int ms) override {
        // Winsock reports a refused non-blocking connect in the exception set only: without
        // it a wait would run its full time for a peer that has already said no.
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s_, &writable);
        FD_SET(s_, &failed);
        timeval tv = limit_of(ms);
        int r = select(0, nullptr, &writable, &failed, &tv);
        if (r == 0) return Ready::timeout;
        if (r == SOCKET_ERROR || FD_ISSET(s_, &failed)) return Ready::error;
        return Ready::yes;
    }
    Ready wait_readable(int ms) override {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s_, &readable);
        timeval tv = limit_of(ms);
        int r = select(0, &readable, nullptr, nullptr, &tv);
        if (r == 0) return Ready::timeout;
        // A closed or failed connection reads as readable; recv then tells what happened.
        return r == SOCKET_ERROR ? Ready::error : Ready::yes;
    }
    int send(std::span<const std::uint8_t> bytes) override {
        int n = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
        int r = ::send(s_, reinterpret_cast<const char*>(bytes.data()), n, 0);
        return r == SOCKET_ERROR ? -1 : r;
    }
    int recv(std::span<std::uint8_t> bytes) override {
        int n = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
        int r = ::recv(s_, reinterpret_cast<char*>(bytes.data()), n, 0);
        return r == SOCKET_ERROR ? -1 : r;
    }
    bool close() override {
        SOCKET s = s_;
        s_ = INVALID_SOCKET;
        return closesocket(s) == 0;
    }

private:
    SOCKET s_;
};

class Win32Platform final : public Platform {
public:
    std::unique_ptr<SerialPort> open_serial(const std::string& name) override {
        // Unshared: a second open of the same port fails, here or in another program.
        const std::string path = device_path(name);
        if (ports_in_use().count(port_key(path))) return nullptr;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        // 19200 8N1; stop bits, flow control and the rest stay as the port had them. A port
        // that refuses these settings still talks at what it has, so results are not checked.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (GetCommState(h, &dcb)) {
            dcb.BaudRate = CBR_19200;
            dcb.ByteSize = 8;
            dcb.Parity = NOPARITY;
            SetCommState(h, &dcb);
        }
        // Reads return at once with whatever is waiting; write time-outs stay as they were.
        COMMTIMEOUTS timeouts{};
        if (GetCommTimeouts(h, &timeouts)) {
            timeouts.ReadIntervalTimeout = MAXDWORD;
            timeouts.ReadTotalTimeoutMultiplier = 0;
            timeouts.ReadTotalTimeoutConstant = 0;
            SetCommTimeouts(h, &timeouts);
        }
        return std::make_unique<Win32SerialPort>(h, port_key(path));
    }

    std::unique_ptr<Socket> open_tcp(std::uint32_t address, std::uint16_t port) override {
        // Only the lookup's own result counts: the thread's last error may still hold the
        // would-block of an earlier non-blocking connect.
        const protoent* tcp = getprotobyname("tcp");
        if (!tcp) return nullptr;
        SOCKET s = socket(AF_INET, SOCK_STREAM, tcp->p_proto);
        if (s == INVALID_SOCKET) return nullptr;
        u_long on = 1;
        if (ioctlsocket(s, FIONBIO, &on) != 0) {
            closesocket(s);
            return nullptr;
        }
        BOOL nodelay = TRUE;  // frames are small and each one waits for its answer
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), sizeof nodelay);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = htonl(address);
        connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);  // completes later
        return std::make_unique<Win32Socket>(s);
    }

    std::string read_profile(const std::string& path, const std::string& section, const std::string& key,
                             const std::string& fallback) override {
        // The profile functions take no names beyond MAX_PATH (some implementations even
        // crash on them); such a file cannot be read, as a missing one cannot.
        if (path.size() >= MAX_PATH) return fallback;
        // The system function applies the profile rules itself (and, for a bare file name,
        // looks in the Windows directory). It reports a cut-off value as size - 1.
        std::vector<char> buffer(512);
        for (;;) {
            DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(), buffer.data(),
                                               static_cast<DWORD>(buffer.size()), path.c_str());
            if (n + 1 < buffer.size() || buffer.size() >= 65536) return std::string(buffer.data(), n);
            buffer.resize(buffer.size() * 2);
        }
    }

    bool write_profile(const std::string& path, const std::string& section, const std::string& key,
                       const std::string& value) override {
        if (path.size() >= MAX_PATH) return false;
        return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str()) != 0;
    }

    void sleep_ms(int ms) override {
        if (ms > 0) Sleep(static_cast<DWORD>(ms));
    }

    std::chrono::microseconds now() override { return monotonic_now(); }
};

}  // namespace

Platform& native() {
    static Win32Platform platform;
    return platform;
}

}  // namespace zr::platform
