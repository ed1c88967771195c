// Tag selection: later tag commands address the tags that match.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

// option1 defaults to the value that selects: a default that cancelled the selection let
// "select, then write" rewrite whichever tag answered first.
const Arg kAntenna = byte_arg("antenna", "1", "antenna byte");
const Arg kOption1 = byte_arg("option1", "1",
                              "1 selects the tags whose match data begin with --match; 0 cancels any selection "
                              "(--match is then ignored and every tag answers again)");
const Arg kOption2 = byte_arg("option2", "0", "how many leading bytes of --match count; 0 for all of them");

const VerbGroup kTagSelect(31, "Tag selection", {
    {"select-tag", "ZRSelectTag",
     "select tags by the first bytes of their 8-byte identifier; later commands, password commands "
     "included, reach only them",
     {kAntenna, kOption1, kOption2, hex_arg("match", 8, nullptr, "identifier to match")},
     "zrtool --simulate select-tag --match E200341201020301",
     [](Call& c) {
         return ZRSelectTag(c.handle(), c.byte("antenna"), c.byte("option1"), c.byte("option2"), c.bytes("match"));
     }},
    {"select-tag-epc", "ZRSelectTagEPC",
     "select tags by the first bytes of their EPC; later commands (set-epc, set-use-data, "
     "read-user-data-epc, inventories) reach only them; a tag whose EPC changes leaves the selection",
     {kAntenna, kOption1, kOption2, hex_arg("match", 0, nullptr, "EPC bytes to match")},
     "zrtool --simulate select-tag-epc --match 300833B2",
     [](Call& c) {
         return ZRSelectTagEPC(c.handle(), c.byte("antenna"), c.byte("option1"), c.byte("option2"), c.bytes("match"),
                               c.size("match"));
     }},
});

}  // namespace
}  // namespace zrtool
