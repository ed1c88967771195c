// MAC and IPv4 identity, with the configuration file update, on the fake platform.
#include "config_support.h"

#include "platform/ini.h"

using namespace zr::test;
using namespace zr::test::config;

namespace {

const Bytes kNetRequest = {0x00, 0x0F, 0x63, 0x06, 0x0C, 0xC0, 0x00, 0x02, 0x0A,
                           0xFF, 0xFF, 0xFF, 0x00, 0xC0, 0x00, 0x02, 0x01};

std::string key(Session& s, const char* name) {
    return zr::platform::ini::get(s.fake.files["/fake/zr.ini"], "reader", name).value_or("<none>");
}

}  // namespace

TEST(Network, MacSetIsTheBlockWriteAtFive) {
    const std::uint8_t mac[6] = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
    run_rows({
        {"MACSet", [&](int h, auto*) { return ZRMACSet(h, 99, 6, mac); },
         {0x00, 0x09, 0x63, 0x05, 0x06, 0x02, 0x00, 0x5E, 0x10, 0x20, 0x30}, {0x00, 0x02, 0x63, 0x00}, ZR_OK, {},
         {100}, {50}, 0},
        {"MACSet status 05", [&](int h, auto*) { return ZRMACSet(h, 0, 6, mac); },
         {0x00, 0x09, 0x63, 0x05, 0x06, 0x02, 0x00, 0x5E, 0x10, 0x20, 0x30}, {0x00, 0x02, 0x63, 0x05}, 1005, {},
         {100, 50}, {50, 50}, 0},
    });
}

TEST(Network, NetAddrSetWritesTheReaderThenTheFile) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Session s(l);
        s.peer.reply_next({0x00, 0x02, 0x63, 0x00});
        EXPECT_EQ(ZRNetAddrSet(s.h, 0, "reader", "192.0.2.10", "255.255.255.0", " 192.0.2.1 "), ZR_OK);
        ASSERT_EQ(s.peer.requests.size(), 1u);
        EXPECT_EQ(s.peer.requests[0], kNetRequest);
        EXPECT_EQ(s.fake.sleeps, (std::vector<int>{l.serial ? 100 : 50}));
        EXPECT_EQ(key(s, "ZR_HOST_NAME"), "192.0.2.10");
        EXPECT_EQ(key(s, "ZR_SUBNET"), "255.255.255.0");
        EXPECT_EQ(key(s, "ZR_GATE"), "192.0.2.1");  // as passed; the reader trims the blanks
        // One write for the three keys: the file never holds a new address with an old gateway.
        ASSERT_EQ(s.fake.profile_writes.size(), 1u);
        EXPECT_EQ(s.fake.profile_writes[0].keys, (std::vector<std::string>{"ZR_HOST_NAME", "ZR_SUBNET", "ZR_GATE"}));
        // The rest of the section is kept.
        EXPECT_EQ(key(s, "ZR_PORT_TYPE"), l.type);
        EXPECT_EQ(key(s, "ZR_ANTENNA_CONCTL"), "5");
    }
}

TEST(Network, NetAddrSetLeavesTheFileWhenTheReaderRefuses) {
    struct Case {
        const char* name;
        Bytes reply;  // empty: silent
    };
    const Case cases[] = {{"status 05", {0x00, 0x02, 0x63, 0x05}}, {"no reply", {}}, {"wrong echo", {0x00, 0x02, 0x62, 0x00}}};
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + ": " + c.name);
            Session s(l);
            if (c.reply.empty()) s.peer.silent_next();
            else s.peer.reply_next(c.reply);
            const auto before = s.fake.files;
            EXPECT_EQ(ZRNetAddrSet(s.h, 0, "reader", "192.0.2.10", "255.255.255.0", "192.0.2.1"), 0);
            EXPECT_EQ(s.fake.files, before);
        }
}

TEST(Network, NetAddrSetRefusesTextsThatAreNotAddresses) {
    struct Case {
        const char *section, *ip, *mask, *gate;
    };
    const Case cases[] = {
        {"reader", "192.0.2.256", "255.255.255.0", "192.0.2.1"},  // would wrap to 0
        {"reader", "192.0.2.-1", "255.255.255.0", "192.0.2.1"},
        {"reader", "192.0.2", "255.255.255.0", "192.0.2.1"},       // too few numbers
        {"reader", "192.0.2.1.5", "255.255.255.0", "192.0.2.1"},   // too many
        {"reader", "192.0.2.1x", "255.255.255.0", "192.0.2.1"},
        {"reader", "192.0.2.10", "255.255.255.0", ""},
        {"reader", "192.0.2.10", "255.255.255.0", "0000000000000000000000000001.2.3.4"},
        {"reader", nullptr, "255.255.255.0", "192.0.2.1"},
        {"reader", "192.0.2.10", nullptr, "192.0.2.1"},
        {"reader", "192.0.2.10", "255.255.255.0", nullptr},
        {nullptr, "192.0.2.10", "255.255.255.0", "192.0.2.1"},
        {"", "192.0.2.10", "255.255.255.0", "192.0.2.1"},
        {"a]\n[b", "192.0.2.10", "255.255.255.0", "192.0.2.1"},  // would break the file's lines
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section ? c.section : "(null)") + " " + (c.ip ? c.ip : "(null)") + " " +
                     (c.mask ? c.mask : "(null)") + " " + (c.gate ? c.gate : "(null)"));
        Session s(kLinks[1]);
        const auto before = s.fake.files;
        EXPECT_EQ(ZRNetAddrSet(s.h, 0, c.section, c.ip, c.mask, c.gate), 0);
        EXPECT_TRUE(s.peer.written.empty());
        EXPECT_EQ(s.fake.files, before);
    }
}

TEST(Network, NetAddrSetWithoutSessionGivesZeroAndMacSetMinusOne) {
    Session s(kLinks[0]);
    const std::uint8_t mac[6] = {};
    EXPECT_EQ(ZRNetAddrSet(-1, 0, "reader", "192.0.2.10", "255.255.255.0", "192.0.2.1"), 0);
    EXPECT_EQ(ZRMACSet(-1, 0, 6, mac), ZR_ERR_NO_SESSION);
    EXPECT_TRUE(s.peer.written.empty());
}

TEST(Network, NetAddrSetReportsAFileThatCouldNotBeWritten) {
    // The reader has moved: saying so matters more than the file's fate.
    Session s(kLinks[1]);
    s.fake.profile_writes_fail = true;
    s.peer.reply_next({0x00, 0x02, 0x63, 0x00});
    EXPECT_EQ(ZRNetAddrSet(s.h, 0, "reader", "192.0.2.10", "255.255.255.0", "192.0.2.1"), ZR_ERR_INTERNAL);
}

TEST(Network, EachSessionKeepsWhatItWasOpenedWith) {
    const unsigned char password[4] = {0, 0, 0, 0};
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        // Reader A opened from a.ini, then reader B from b.ini; then an open that fails.
        Session a(l);
        a.fake.files["/fake/b.ini"] = a.fake.files["/fake/zr.ini"];
        auto& b_text = a.fake.files["/fake/b.ini"];
        b_text = zr::platform::ini::set(b_text, "reader", "ZR_ANTENNA_CONCTL", "7");
        int b = -1;
        a.fake.serial("COM4");
        a.fake.tcp("192.0.2.8");
        if (l.serial) b_text = zr::platform::ini::set(b_text, "reader", "ZR_COM_NUMBER", "COM4");
        else b_text = zr::platform::ini::set(b_text, "reader", "ZR_HOST_NAME", "192.0.2.8");
        ASSERT_EQ(ZROpen(&b, "/fake/b.ini", "reader"), ZR_OK);
        a.fake.files["/fake/c.ini"] =
            "[reader]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=reader.local\nZR_ANTENNA_CONCTL=9\n";
        int c = -1;
        EXPECT_EQ(ZROpen(&c, "/fake/c.ini", "reader"), ZR_ERR_OPEN_PORT);
        EXPECT_EQ(ZROpen(&c, "/fake/b.ini", "typo"), 0);

        // The failed opens changed nothing: the settings are still b.ini's ...
        EXPECT_GT(ZRGetUseData(a.h, password, 0, 1, 0), 0);
        ASSERT_FALSE(a.peer.requests.empty());
        EXPECT_EQ(a.peer.requests.back()[3], 7) << "antenna control of the last open that succeeded";
        // ... and A records its new address in a.ini, not in the file opened last.
        const std::string b_before = b_text;
        a.peer.reply_next({0x00, 0x02, 0x63, 0x00});
        EXPECT_EQ(ZRNetAddrSet(a.h, 0, "reader", "192.0.2.10", "255.255.255.0", "192.0.2.1"), ZR_OK);
        EXPECT_EQ(key(a, "ZR_HOST_NAME"), "192.0.2.10");
        EXPECT_EQ(a.fake.files["/fake/b.ini"], b_before);
        EXPECT_EQ(ZRClose(&b), ZR_OK);
    }
}
