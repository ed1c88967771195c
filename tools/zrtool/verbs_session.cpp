// Sessions: ZROpen and ZRClose are the connection options of every verb; reset is the one
// command of this group.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const VerbGroup kSessions(10, "Sessions", {
    {"reset", "ZRReset", "reset the reader", {},
     "zrtool --simulate reset",
     [](Call& c) { return ZRReset(c.handle()); }},
});

}  // namespace
}  // namespace zrtool
