// The library's version, so that an application can log which library it actually loaded.
#include "api/zr.h"

// CMake passes the project version, against which it also checks the macros of zr.h.
#ifndef ZR_LIBRARY_VERSION
#define ZR_LIBRARY_VERSION ZR_VERSION_STRING
#endif

extern "C" ZR_API const char* ZR_CALL ZRVersion(void) { return ZR_LIBRARY_VERSION; }
