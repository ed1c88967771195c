// Tag selection: later tag commands address the tags that match.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const VerbGroup kTagSelect(31, "Tag selection", {
    {"select-tag", "ZRSelectTag", "select tags by 8 bytes of match data (identifier commands)",
     {byte_arg("antenna", "1", "antenna byte"), byte_arg("option1", "0", "first option byte"),
      byte_arg("option2", "0", "second option byte"), hex_arg("match", 8, nullptr, "match data")},
     "zrtool --simulate select-tag --match E200341201020301",
     [](Call& c) {
         return ZRSelectTag(c.handle(), c.byte("antenna"), c.byte("option1"), c.byte("option2"), c.bytes("match"));
     }},
    {"select-tag-epc", "ZRSelectTagEPC", "select tags by match data of any length (password commands)",
     {byte_arg("antenna", "1", "antenna byte"), byte_arg("option1", "0", "first option byte"),
      byte_arg("option2", "0", "second option byte"), hex_arg("match", 0, nullptr, "match data")},
     "zrtool --simulate select-tag-epc --match 300833B2",
     [](Call& c) {
         return ZRSelectTagEPC(c.handle(), c.byte("antenna"), c.byte("option1"), c.byte("option2"), c.bytes("match"),
                               c.size("match"));
     }},
});

}  // namespace
}  // namespace zrtool
