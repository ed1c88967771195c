// EAS alarm: flag a tag, switch the reader's alarm mode on and off (0x8D, mode byte 1 or 0),
// and collect the alarm frames it sends while the mode is on.
#include "core/exchange.h"

using namespace zr::core;

extern "C" ZR_API int ZR_CALL ZRConfigEASflag(int handle, int antenna, const unsigned char* password, int flag) {
    return guarded([&] { return command(handle, code::config_eas_flag).with(antenna, bytes(password, 4), flag).run(); });
}

// LEN 4: mode byte and a 00 after it.
extern "C" ZR_API int ZR_CALL ZRStartEASAlarm(int handle, int antenna) {
    return guarded([&] { return command(handle, code::eas_alarm).with(antenna, 0x01, 0x00).send_only(); });
}

// Polls: six receives, 10 ms apart, until an alarm frame is there.
extern "C" ZR_API int ZR_CALL ZREASAlarmReport(int handle, unsigned char* buffer) {
    return guarded([&] { return report(handle, code::eas_alarm).receives(6).wait(10).into(buffer); });
}

// The first 0x8D frame decides, even an alarm frame that was still on its way.
extern "C" ZR_API int ZR_CALL ZREndEASAlarm(int handle, int antenna) {
    return guarded([&] { return command(handle, code::eas_alarm).with(antenna, 0x00, 0x00).receives(6).run(); });
}
