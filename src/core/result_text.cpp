// Texts for result codes. All of them live in static storage: callers may keep the pointer
// for as long as the library is loaded and never free it.
#include "api/zr.h"
#include "protocol/status.h"

namespace {

constexpr const char* kUnknown = "unknown result code";

const char* text_of(int code) {
    switch (code) {
        case ZR_OK: return "ok";
        case 0: return "nothing done: no report waiting, nothing sent, or port type neither COM nor TCP";
        case ZR_ERR_NO_SESSION: return "no session: the handle is -1 or names no open session";
        case ZR_ERR_RANGE: return "range refused: address and length reach past the limit, or no reply to a lock";
        case ZR_ERR_ADDRESS: return "address or length refused";
        case ZR_ERR_NO_REPLY: return "no valid reply";
        case ZR_ERR_PARAMETER: return "argument out of range, or reader status 0x3F (device classes 1 and 2)";
        case ZR_ERR_SEND: return "the TCP send failed";
        case ZR_ERR_STATUS_3A: return "reader status 0x3A (device classes 1 and 2)";
        case ZR_ERR_REPORT_STATUS: return "the report carried a non-zero reader status";
        case ZR_ERR_MODEL: return "unknown reader model code";
        case ZR_ERR_ALREADY_OPEN: return "already open: the handle variable was not -1";
        case ZR_ERR_CONFIG: return "configuration incomplete: port type, port name or host name empty";
        case ZR_ERR_CONNECT: return "the TCP connection did not come up";
        case ZR_ERR_OPEN_PORT: return "the port or socket could not be opened";
        case ZR_ERR_ARGUMENT: return "argument refused: a NULL pointer or a size the request cannot hold";
        case ZR_ERR_TOO_LONG: return "more than 52 bytes";
        case ZR_ERR_INTERNAL: return "the library could not complete the call";
        case ZR_ERR_UNKNOWN_STATUS: return "reader status not listed for the device class";
        case ZR_CLOSE_FAILED: return "the port could not be closed";
        default: break;
    }
    const char* status = zr::protocol::status_result_text(code);
    return status ? status : kUnknown;
}

}  // namespace

extern "C" ZR_API const char* ZR_CALL ZRResultText(int code) {
    try {
        return text_of(code);
    } catch (...) {
        return kUnknown;  // nothing above throws; the boundary stays closed all the same
    }
}
