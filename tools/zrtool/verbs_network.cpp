// The reader's network identity.
#include "verb.h"
#include "zr.h"

namespace zrtool {
namespace {

const VerbGroup kNetwork(42, "Network identity", {
    {"mac-set", "ZRMACSet", "write the reader's MAC address", {hex_arg("mac", 6, nullptr, "the MAC address")},
     "zrtool --simulate mac-set --mac 00:11:22:33:44:55",
     [](Call& c) { return ZRMACSet(c.handle(), 0, c.size("mac"), c.bytes("mac")); }},
    // The library records the new address in the settings file the session was opened with,
    // in the section the session uses (with --tcp, --serial or --simulate the tool's own
    // temporary file), so that the next open with that file and section finds the reader.
    {"net-addr-set", "ZRNetAddrSet",
     "set the reader's IP address, mask and gateway, and record them in the settings file",
     {text_arg("ip", nullptr, "dotted IPv4 address"), text_arg("mask", "255.255.255.0", "subnet mask"),
      text_arg("gateway", nullptr, "gateway address"),
      text_arg("ini-section", "", "section of the settings file that records the address (default: the "
                                  "one in use, --section with --config)")},
     "zrtool --simulate net-addr-set --ip 192.168.1.50 --gateway 192.168.1.1",
     [](Call& c) {
         const std::string& section = c.given("ini-section") ? c.text("ini-section") : c.section();
         return ZRNetAddrSet(c.handle(), 0, section.c_str(), c.text("ip").c_str(), c.text("mask").c_str(),
                             c.text("gateway").c_str());
     }},
});

}  // namespace
}  // namespace zrtool
