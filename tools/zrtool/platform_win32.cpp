#include "platform.h"

#include <windows.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace zrtool::os {

bool is_terminal(int fd) {
    // A console, not any character device: the C runtime's _isatty says yes to NUL too.
    const DWORD which = fd == 0 ? STD_INPUT_HANDLE : fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
    DWORD mode;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}
unsigned process_id() { return static_cast<unsigned>(GetCurrentProcessId()); }
void sleep_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }
void local_time(long long seconds, std::tm& out) {
    const std::time_t s = static_cast<std::time_t>(seconds);
    localtime_s(&out, &s);
}

std::string make_temp_dir(const std::string& prefix) {
    char base[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) return "";
    static std::atomic<unsigned> next{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string dir = std::string(base) + prefix + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                          std::to_string(next++) + "-" + std::to_string(GetTickCount() & 0xFFFF);
        if (CreateDirectoryA(dir.c_str(), nullptr)) return dir;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return "";
    }
    return "";
}
void remove_file_now(const char* path) { DeleteFileA(path); }
void remove_dir_now(const char* path) { RemoveDirectoryA(path); }

// The console edits lines itself (history on the arrow keys), so the shell reads whole lines.
bool has_line_editor() { return false; }
RawInput::RawInput() = default;
RawInput::~RawInput() = default;
int RawInput::read_byte() {
    const int c = std::getchar();
    return c == EOF ? -1 : c;
}
void restore_terminal() {}

std::vector<std::string> serial_candidates() {
    std::vector<std::string> ports;
    char target[1024];
    for (int i = 1; i <= 256; ++i) {
        const std::string name = "COM" + std::to_string(i);
        if (QueryDosDeviceA(name.c_str(), target, sizeof target) != 0) ports.push_back(name);
    }
    return ports;
}

std::vector<bool> tcp_answers(const std::vector<std::uint32_t>& addresses, std::uint16_t port, int limit_ms,
                              int batch) {
    std::vector<bool> answers(addresses.size(), false);
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return answers;
    batch = std::min(batch, FD_SETSIZE);
    for (std::size_t first = 0; first < addresses.size(); first += batch) {
        const std::size_t last = std::min(addresses.size(), first + batch);
        std::vector<SOCKET> sockets;
        std::vector<std::size_t> index;
        for (std::size_t i = first; i < last; ++i) {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (s == INVALID_SOCKET) continue;
            u_long on = 1;
            ioctlsocket(s, FIONBIO, &on);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(addresses[i]);
            if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                answers[i] = true;
                closesocket(s);
            } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
                sockets.push_back(s);
                index.push_back(i);
            } else {
                closesocket(s);
            }
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        std::vector<bool> settled(sockets.size(), false);
        for (;;) {
            fd_set writable, failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            int waiting = 0;
            for (std::size_t k = 0; k < sockets.size(); ++k)
                if (!settled[k]) {
                    FD_SET(sockets[k], &writable);
                    FD_SET(sockets[k], &failed);
                    ++waiting;
                }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (waiting == 0 || left.count() <= 0) break;
            timeval tv{static_cast<long>(left.count() / 1000), static_cast<long>(left.count() % 1000) * 1000};
            if (select(0, nullptr, &writable, &failed, &tv) <= 0) break;
            for (std::size_t k = 0; k < sockets.size(); ++k) {
                if (settled[k]) continue;
                if (FD_ISSET(sockets[k], &writable)) answers[index[k]] = settled[k] = true;
                else if (FD_ISSET(sockets[k], &failed)) settled[k] = true;
            }
        }
        for (SOCKET s : sockets) closesocket(s);
    }
    WSACleanup();
    return answers;
}

}  // namespace zrtool::os
