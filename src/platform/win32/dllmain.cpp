// Load-time start-up of zr.dll: Windows Sockets 1.1 for every TCP session. Without it the
// library cannot work, so it says so once and refuses to load.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock.h>
#include <windows.h>

#include "platform/win32/resource.h"

namespace {

bool sockets_started = false;

void show_start_failure(HINSTANCE instance) {
    wchar_t text[256] = {};
    if (LoadStringW(instance, IDS_STARTUP_FAILED, text, sizeof text / sizeof text[0]) <= 0) return;
    MessageBoxW(nullptr, text, L"zr", MB_OK | MB_ICONERROR);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
        case DLL_PROCESS_ATTACH: {
            DisableThreadLibraryCalls(instance);
            WSADATA data;
            if (WSAStartup(MAKEWORD(1, 1), &data) != 0) {
                show_start_failure(instance);
                return FALSE;
            }
            sockets_started = true;
            return TRUE;
        }
        case DLL_PROCESS_DETACH:
            // On FreeLibrary only: when the process is ending (reserved set), other DLLs may
            // already be gone, and Windows reclaims the sockets anyway.
            if (sockets_started && reserved == nullptr) WSACleanup();
            sockets_started = false;
            return TRUE;
        default:
            return TRUE;
    }
}
