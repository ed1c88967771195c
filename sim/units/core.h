// Reset (0x67 without parameters; answered with status 0 and the firmware version, two
// bytes) and test mode (0x67 with a mode byte 0-4; a status reply).
#pragma once

#include "model.h"

namespace zr::sim {

class CoreUnit final : public Unit {
public:
    explicit CoreUnit(ReaderModel& m);
    static const Bytes kFirmwareVersion;  // data of the reset reply
    int resets = 0;
    int test_mode = 0;
};

}  // namespace zr::sim
