// Windows: serial ports through the comm API, Windows Sockets 1.1 with select, INI files read
// through the private-profile functions and written whole. Each socket starts Winsock and ends
// it (the calls are counted by Windows): never from DllMain, under the loader lock.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini.h"
#include "platform/platform.h"

namespace zr::platform {
namespace {

// The words for a system error: fixed ones for the failures an open commonly meets, worded
// as on other systems, else the system's own (its first sentence, lower case).
std::string reason_of(DWORD err) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: case ERROR_BAD_NETPATH:
            return "no such file or directory";
        case ERROR_ACCESS_DENIED: return "permission denied";
        case ERROR_SHARING_VIOLATION: return "in use";
        case WSAECONNREFUSED: return "connection refused";
        case WSAECONNRESET: case WSAECONNABORTED: return "connection reset";
        case WSAETIMEDOUT: return "timed out";
        case WSAEHOSTUNREACH: return "no route to host";
        case WSAENETUNREACH: return "network unreachable";
        default: break;
    }
    char buffer[256] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0, buffer,
                             sizeof buffer, nullptr);
    std::string text(buffer, n);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == '.' || text.back() == ' '))
        text.pop_back();
    if (text.empty()) return "system error " + std::to_string(err);
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

Failure failure_of(DWORD err) {
    Failure f;
    switch (err) {
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: case ERROR_BAD_NETPATH:
            f.kind = Failure::Kind::missing;
            break;
        case ERROR_ACCESS_DENIED: f.kind = Failure::Kind::denied; break;
        case ERROR_SHARING_VIOLATION: f.kind = Failure::Kind::busy; break;
        case WSAECONNREFUSED: f.kind = Failure::Kind::refused; break;
        default: f.kind = Failure::Kind::other; break;
    }
    f.reason = reason_of(err);
    return f;
}

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
// Opens and closes on other threads use it too: only under ports_mutex().
std::set<std::string>& ports_in_use() {
    static std::set<std::string> ports;
    return ports;
}
std::mutex& ports_mutex() {
    static std::mutex m;
    return m;
}

std::string port_key(const std::string& path) {
    std::string key = path;
    for (auto& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

class Win32SerialPort final : public SerialPort {
public:
    // The key was claimed by open_serial.
    Win32SerialPort(HANDLE h, std::string key) : h_(h), key_(std::move(key)) {}
    ~Win32SerialPort() override {
        if (h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
            std::lock_guard lock(ports_mutex());
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
        if (WriteFile(h_, &byte, 1, &written, nullptr) && written == 1) return true;
        note_error();
        return false;
    }
    int write(std::span<const std::uint8_t> bytes) override {
        DWORD written = 0;
        if (!WriteFile(h_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) note_error();
        return static_cast<int>(written);
    }
    bool gone() const override { return gone_; }
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
        std::lock_guard lock(ports_mutex());
        ports_in_use().erase(key_);
        return true;
    }

private:
    int read_now() {
        unsigned char b = 0;
        DWORD got = 0;
        if (ReadFile(h_, &b, 1, &got, nullptr)) return got == 1 ? b : -1;
        note_error();
        return -1;
    }
    // A removed USB adapter fails every call from now on.
    void note_error() {
        switch (GetLastError()) {
            case ERROR_BAD_COMMAND: case ERROR_DEVICE_REMOVED: case ERROR_DEVICE_NOT_CONNECTED:
            case ERROR_GEN_FAILURE: case ERROR_INVALID_HANDLE: case ERROR_FILE_NOT_FOUND:
                gone_ = true;
                break;
            default: break;
        }
    }

    HANDLE h_;
    std::string key_;
    int peeked_ = -1;
    bool gone_ = false;
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
    // Owns one start of Winsock, ended with the socket.
    explicit Win32Socket(SOCKET s) : s_(s) {}
    ~Win32Socket() override {
        if (s_ != INVALID_SOCKET) closesocket(s_);
        WSACleanup();
    }
    Ready wait_connected(int ms) override {
        // A refused attempt shows in the exception set, which wait_writable watches.
        Ready r = wait_writable(ms);
        if (r == Ready::timeout) return r;
        // Some stacks also mark a failed attempt writable; its pending error tells.
        int err = 0;
        int len = sizeof err;
        if (getsockopt(s_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) err = WSAGetLastError();
        if (err != 0) {
            error_ = static_cast<DWORD>(err);
            return Ready::error;
        }
        return r;
    }
    Failure failure() const override { return error_ ? failure_of(error_) : Failure{}; }
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
        if (r != SOCKET_ERROR) return r;
        return broken_or_waiting();
    }
    int recv(std::span<std::uint8_t> bytes) override {
        int n = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
        int r = ::recv(s_, reinterpret_cast<char*>(bytes.data()), n, 0);
        if (r != SOCKET_ERROR) return r;
        return broken_or_waiting();
    }
    bool close() override {
        SOCKET s = s_;
        s_ = INVALID_SOCKET;
        return closesocket(s) == 0;
    }

private:
    int broken_or_waiting() {
        const int err = WSAGetLastError();
        if (err == WSAEWOULDBLOCK) return kWouldBlock;
        error_ = static_cast<DWORD>(err);
        return -1;
    }
    SOCKET s_;
    DWORD error_ = 0;
};

// The file the profile functions use for `path`: a bare file name lives in the Windows
// directory, as it does for GetPrivateProfileString.
std::string profile_file(const std::string& path) {
    if (path.find_first_of("\\/:") != std::string::npos) return path;
    char windows[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return path;
    std::string full(windows, n);
    if (full.back() != '\\') full += '\\';
    return full + path;
}

// The bytes of a file on disk, or nothing when it cannot be read; `missing` when there is no
// such file.
std::optional<std::string> read_whole_file(const std::string& path, bool& missing) {
    missing = false;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        missing = GetLastError() == ERROR_FILE_NOT_FOUND;
        return std::nullopt;
    }
    std::string text;
    bool ok = GetFileType(h) == FILE_TYPE_DISK;
    char buffer[4096];
    DWORD got = 0;
    while (ok && (ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) text.append(buffer, got);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    return text;
}

// A write's new file, made beside the file it replaces: "<name>.zr-tmp-" and six letters or
// digits. Narrow enough that a clean-up by it removes nothing else.
constexpr std::string_view kTempMark = ".zr-tmp-";

bool same_letters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool temp_of(std::string_view entry, std::string_view name) {
    if (entry.size() != name.size() + kTempMark.size() + 6) return false;
    if (!same_letters(entry.substr(0, name.size()), name) ||
        !same_letters(entry.substr(name.size(), kTempMark.size()), kTempMark))
        return false;
    entry.remove_prefix(name.size() + kTempMark.size());
    return std::all_of(entry.begin(), entry.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// Whether `path` is owned by this process's user, or by the owner it gives the files it makes
// (an elevated administrator's files belong to the Administrators group).
bool made_by_this_user(const std::string& path) {
    DWORD need = 0;
    GetFileSecurityA(path.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &need);
    if (need == 0) return false;  // no security on this file system: nobody can tell
    std::vector<char> descriptor(need);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!GetFileSecurityA(path.c_str(), OWNER_SECURITY_INFORMATION, descriptor.data(), need, &need) ||
        !GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) || !owner)
        return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    bool mine = false;
    for (const auto kind : {TokenUser, TokenOwner}) {
        DWORD size = 0;
        GetTokenInformation(token, kind, nullptr, 0, &size);
        std::vector<char> info(size > 0 ? size : 1);
        if (size == 0 || !GetTokenInformation(token, kind, info.data(), size, &size)) continue;
        const PSID sid = kind == TokenUser ? reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid
                                           : reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;
        mine = mine || EqualSid(owner, sid);
    }
    CloseHandle(token);
    return mine;
}

// Removes the new files that writes of `target` cut short (a kill, a crash, a power cut) left
// beside it, each as large as the file. Only this user's plain files; one a write still has
// open is not shared for deletion and stays.
void remove_leftovers(const std::string& target) {
    const auto slash = target.find_last_of("\\/:");
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string pattern = target + std::string(kTempMark) + "*";
    if (pattern.size() >= MAX_PATH) return;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
        if ((found.dwFileAttributes & kNotPlain) || !temp_of(found.cFileName, name)) continue;
        const std::string leftover = dir + found.cFileName;
        if (made_by_this_user(leftover)) DeleteFileA(leftover.c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

// A new file beside `target`, open for writing and shared with nobody (its name in `temp`).
HANDLE make_temp(const std::string& target, std::string& temp) {
    static std::atomic<unsigned> counter{0};
    constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int tries = 0; tries < 16; ++tries) {
        LARGE_INTEGER ticks{};
        QueryPerformanceCounter(&ticks);
        unsigned long long seed = static_cast<unsigned long long>(ticks.QuadPart) ^
                                  (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
                                  (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
        temp = target + std::string(kTempMark);
        for (int i = 0; i < 6; ++i, seed /= 62) temp += kDigits[seed % 62];
        if (temp.size() >= MAX_PATH) return INVALID_HANDLE_VALUE;
        HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

class Win32Platform final : public Platform {
public:
    std::unique_ptr<SerialPort> open_serial(const std::string& name, Failure* why) override {
        auto fail = [&](Failure f) -> std::unique_ptr<SerialPort> {
            if (why) *why = std::move(f);
            return nullptr;
        };
        // Unshared: a second open of the same port fails, here or in another program.
        const std::string path = device_path(name);
        const std::string key = port_key(path);
        {
            // Claimed before the open: two threads opening one port cannot both get it.
            std::lock_guard lock(ports_mutex());
            if (!ports_in_use().insert(key).second) return fail({Failure::Kind::busy, "in use"});
        }
        auto unclaim = [&] {
            std::lock_guard lock(ports_mutex());
            ports_in_use().erase(key);
        };
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD err = GetLastError();
            unclaim();
            // A port that another program holds is refused as access denied.
            if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION)
                return fail({Failure::Kind::busy, "in use"});
            return fail(failure_of(err));
        }
        // Only a communications device is a serial port: a file, a directory or NUL would
        // take the request frames (OPEN_EXISTING has changed nothing so far).
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
            CloseHandle(h);
            unclaim();
            return fail({Failure::Kind::not_a_port, "not a communications device"});
        }
        // 19200 8N1; stop bits, flow control and the rest stay as the port had them. A port
        // that refuses these settings still talks at what it has, so the result is not checked.
        dcb.BaudRate = CBR_19200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        SetCommState(h, &dcb);
        // Reads return at once with whatever is waiting; write time-outs stay as they were.
        COMMTIMEOUTS timeouts{};
        if (GetCommTimeouts(h, &timeouts)) {
            timeouts.ReadIntervalTimeout = MAXDWORD;
            timeouts.ReadTotalTimeoutMultiplier = 0;
            timeouts.ReadTotalTimeoutConstant = 0;
            SetCommTimeouts(h, &timeouts);
        }
        return std::make_unique<Win32SerialPort>(h, key);
    }

    std::unique_ptr<Socket> open_tcp(std::uint32_t address, std::uint16_t port, Failure* why) override {
        // Only the lookup's own result counts: the thread's last error may still hold the
        // would-block of an earlier non-blocking connect.
        WSADATA data;
        if (const int err = WSAStartup(MAKEWORD(1, 1), &data); err != 0) {
            if (why) *why = failure_of(static_cast<DWORD>(err));
            return nullptr;
        }
        const protoent* tcp = getprotobyname("tcp");  // per thread in Winsock
        SOCKET s = tcp ? socket(AF_INET, SOCK_STREAM, tcp->p_proto) : INVALID_SOCKET;
        u_long on = 1;
        if (s == INVALID_SOCKET || ioctlsocket(s, FIONBIO, &on) != 0) {
            if (why) *why = failure_of(static_cast<DWORD>(WSAGetLastError()));
            if (s != INVALID_SOCKET) closesocket(s);
            WSACleanup();
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

    ProfileFile read_profile_file(const std::string& path) override {
        ProfileFile f;
        f.name = profile_file(path);
        if (path.size() >= MAX_PATH) {
            f.failure = {Failure::Kind::other, "file name too long"};
            return f;
        }
        const DWORD attributes = GetFileAttributesA(f.name.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            f.failure = failure_of(GetLastError());
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            f.directory = true;
            f.failure = {Failure::Kind::other, "is a directory"};
        } else {
            bool missing = false;
            if (auto text = read_whole_file(f.name, missing)) {
                f.found = true;
                f.text = std::move(*text);
            } else {
                f.failure = failure_of(GetLastError());
            }
        }
        return f;
    }

    bool write_profile(const std::string& path, const std::string& section,
                       std::span<const ProfileEntry> entries) override {
        // WritePrivateProfileString rewrites the file once per key and in place: a failure
        // half-way would leave some keys, or half a file. Here the new text is written to a
        // file beside the old one and moved over it, once for all the keys.
        if (path.size() >= MAX_PATH) return false;
        const std::string target = profile_file(path);
        bool missing = false;
        auto text = read_whole_file(target, missing);
        // A file that exists but cannot be read is not replaced by one with only these keys.
        if (!text && !missing) return false;
        if (!text) text.emplace();
        // A file made read-only stays as it is, as it would for an edit in place (a move over
        // it is not refused everywhere).
        const DWORD attributes = GetFileAttributesA(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
        if (!ini::editable(*text)) return false;
        for (const auto& e : entries) *text = ini::set(*text, section, e.key, e.value);

        remove_leftovers(target);

        // Another write's clean-up may take the new file between its close and the move: then
        // once more with a new one.
        for (int tries = 0; tries < 3; ++tries) {
            std::string temp;
            HANDLE h = make_temp(target, temp);
            if (h == INVALID_HANDLE_VALUE) return false;
            bool ok = true;
            for (std::size_t done = 0; ok && done < text->size();) {
                DWORD written = 0;
                const DWORD n = static_cast<DWORD>(std::min<std::size_t>(text->size() - done, 1u << 20));
                ok = WriteFile(h, text->data() + done, n, &written, nullptr) && written > 0;
                done += written;
            }
            ok = ok && FlushFileBuffers(h);
            ok = CloseHandle(h) && ok;
            if (ok && MoveFileExA(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return true;
            const DWORD err = ok ? GetLastError() : ERROR_WRITE_FAULT;
            DeleteFileA(temp.c_str());
            if (err != ERROR_FILE_NOT_FOUND) return false;
        }
        return false;
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
