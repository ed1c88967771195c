// Requests on the system parameter area that other command groups build on.
#pragma once

#include "core/exchange.h"

namespace zr::commands {

// The block write into the system parameter area (0x63: address, count, data): at most 52
// bytes (-15), a negative count refused (-14), no flush, 100 ms (serial) / 50 ms (TCP),
// a failed TCP send gives 0, a further 50 ms after an error status.
core::Command system_block_write(int handle, int address, int count, const unsigned char* data);

}  // namespace zr::commands
