// Load-time code of zr.dll: none. DllMain runs under the loader lock, where starting Windows
// Sockets (which loads its helper DLLs), showing a message or taking a lock another thread may
// hold can deadlock the process. Winsock is started by each TCP session instead (see
// win32_platform.cpp), and thread notifications stay on: the C++ runtime linked into the DLL
// (winpthread, or MSVC's static runtime) cleans up after each thread that called in.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }
