#include "units/core.h"

namespace zr::sim {

const Bytes CoreUnit::kFirmwareVersion = {0x02, 0x10};

CoreUnit::CoreUnit(ReaderModel& m) {
    m.on(code::reset, [this, &m](const Request& r) -> Replies {
        if (r.size() == 0) {
            test_mode = 0;
            ++resets;
            // The reset answer carries the firmware version: over TCP a reset reply must be
            // at least 8 bytes long to be taken.
            return {ReaderModel::ok(code::reset, kFirmwareVersion)};
        }
        if (r.size() == 1 && r[0] <= 4) {
            test_mode = r[0];
            return {ReaderModel::ok(code::reset)};
        }
        return {m.error(code::reset, Error::bad_request)};
    });
}

std::unique_ptr<Unit> make_core_unit(ReaderModel& m) { return std::make_unique<CoreUnit>(m); }

}  // namespace zr::sim
