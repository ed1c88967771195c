// Resource identifiers of zr.dll, shared by the C++ code and zr.rc.
#pragma once

#define IDS_STARTUP_FAILED 1
