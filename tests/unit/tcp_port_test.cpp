// ZR_TCP_PORT: the reader's TCP port in the session's section, 7086 without it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

TEST(TcpPort, TheKeyNamesThePortOpenAndReconnectUse) {
    const struct {
        const char* type;
        const char* keys;
        int open;
        std::uint16_t port;  // connected to (open, then reconnect); refusals: in the cause
        const char* cause;
    } cases[] = {
        {"TCP", "", ZR_OK, 7086, ""},
        {"TCP", "ZR_TCP_PORT=\n", ZR_OK, 7086, ""},
        {"TCP", "ZR_TCP_PORT=7087\n", ZR_OK, 7087, ""},
        {"TCP", "ZR_TCP_PORT = 65535 ; the lab's reader\n", ZR_OK, 65535, ""},
        {"TCP", "ZR_TCP_PORT=1\n", ZR_OK, 1, ""},
        {"TCP", "ZR_TCP_PORT=0\n", ZR_ERR_CONFIG, 0, "ZR_TCP_PORT '0' in [reader] is not a port number (1 to 65535)"},
        {"TCP", "ZR_TCP_PORT=65536\n", ZR_ERR_CONFIG, 0, "ZR_TCP_PORT '65536' in [reader] is not a port number"},
        {"TCP", "ZR_TCP_PORT=-1\n", ZR_ERR_CONFIG, 0, "ZR_TCP_PORT '-1' in [reader]"},
        {"TCP", "ZR_TCP_PORT=+80\n", ZR_ERR_CONFIG, 0, "ZR_TCP_PORT '+80' in [reader]"},
        {"TCP", "ZR_TCP_PORT=0x50\n", ZR_ERR_CONFIG, 0, "ZR_TCP_PORT '0x50' in [reader]"},
        {"TCP", "ZR_TCP_PORT=000080\n", ZR_ERR_CONFIG, 0, "ZR_TCP_PORT '000080' in [reader]"},
        {"COM", "ZR_TCP_PORT=http\n", ZR_ERR_CONFIG, 0, "ZR_TCP_PORT 'http' in [reader]"},
        {"COM", "ZR_TCP_PORT=7087\n", ZR_OK, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.keys);
        FakePlatform fake;
        const bool serial = std::string(c.type) == "COM";
        if (serial) fake.serial("COM3");
        else fake.tcp("192.0.2.7");
        fake.tcp_port = c.port;
        int h = -1;
        ASSERT_EQ(open_fake(fake, c.type, serial ? "COM3" : "192.0.2.7", h, c.keys), c.open);
        if (c.open != ZR_OK) {
            EXPECT_EQ(std::string(ZRLastCause()).rfind(c.cause, 0), 0u) << ZRLastCause();
            EXPECT_EQ(h, -1);
            EXPECT_TRUE(fake.tcp_opens.empty()) << "refused before any connection";
            continue;
        }
        EXPECT_EQ(ZRReconnect(h), ZR_OK);
        const std::vector<std::uint16_t> opened = serial ? std::vector<std::uint16_t>{} : std::vector{c.port, c.port};
        EXPECT_EQ(fake.tcp_opens, opened);
        EXPECT_EQ(ZRClose(&h), ZR_OK);
    }
}
