// Sessions: ZROpen and ZRClose are the connection options of every verb; reset is the one
// command of this group, reconnect, link-state and reply-timing work on the session itself.
#include <cstdio>

#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

// The link verbs send nothing to the reader, so they print for themselves (kind tool): the
// result, and the cause when it says more than the result's text.
int print_link_result(Call& c, const char* function, int result, bool ok, const std::string& meaning_text) {
    const std::string cause = ok ? "" : ZRLastCause();
    if (c.json()) {
        auto j = Json::object();
        j.set("verb", c.verb().name);
        j.set("function", function);
        j.set("result", result);
        j.set("text", meaning_text);
        j.set("success", ok);
        if (!cause.empty()) j.set("cause", cause);
        std::printf("%s\n", j.dump().c_str());
    } else {
        std::printf("%s: %d %s\n", c.verb().name, result, meaning_text.c_str());
        if (!cause.empty() && cause != ZRResultText(result)) std::printf("  cause: %s\n", cause.c_str());
    }
    return ok ? kExitOk : kExitFailed;
}

const VerbGroup kSessions(10, "Sessions", {
    {"reset", "ZRReset", "reset the reader", {},
     "zrtool --simulate reset",
     [](Call& c) { return ZRReset(c.handle()); }},
    {"reconnect", "ZRReconnect", "close the session's link and open it again with the same settings", {},
     "zrtool --simulate reconnect",
     [](Call& c) {
         const int r = ZRReconnect(c.handle());
         return print_link_result(c, "ZRReconnect", r, r == ZR_OK, ZRResultText(r));
     },
     Kind::tool},
    {"link-state", "ZRLinkState", "whether the session's link is known lost (1 up, 0 lost); sends nothing", {},
     "zrtool --simulate link-state",
     [](Call& c) {
         const int r = ZRLinkState(c.handle());
         return print_link_result(c, "ZRLinkState", r, r == 1,
                                  r == 1 ? "up" : r == 0 ? "lost" : ZRResultText(r));
     },
     Kind::tool},
    // ZRSetReplyTiming is the tool's own --timing, which applies to every verb.
    {"reply-timing", "ZRGetReplyTiming", "the session's reply timing (0 fixed, 1 whole; set it with --timing); sends nothing",
     {},
     "zrtool --simulate --timing whole reply-timing",
     [](Call& c) {
         const int r = ZRGetReplyTiming(c.handle());
         return print_link_result(c, "ZRGetReplyTiming", r, r >= 0,
                                  r == ZR_REPLY_TIMING_FIXED ? "fixed" : r == ZR_REPLY_TIMING_WHOLE ? "whole" : ZRResultText(r));
     },
     Kind::tool},
});

}  // namespace
}  // namespace zrtool
