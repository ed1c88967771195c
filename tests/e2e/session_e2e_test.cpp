// The shared library against zrsim on real loopback TCP and a real pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim_fixture.h"
#include "units/core.h"
#include "zr.h"

using namespace zr::test;
using zr::sim::Fault;
using zr::sim::FaultKind;

TEST_P(BothLinks, ResetReachesTheReader) {
    EXPECT_EQ(ZRReset(handle), ZR_OK);
    EXPECT_EQ(host.sim().with_model([](auto& m) { return m.template unit<zr::sim::CoreUnit>().resets; }), 1);
    auto requests = host.sim().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (zr::sim::Bytes{0x00, 0x01, 0x67}));
}

INSTANTIATE_TEST_SUITE_P(Links, BothLinks, ::testing::Values("tcp", "serial"), link_name);

TEST(SessionE2E, SecondOpenOfTheSameSerialPortIsRefused) {
    SimHost host;
    int first = -1, second = -1;
    ASSERT_EQ(ZROpen(&first, host.ini().c_str(), "serial"), ZR_OK);
    EXPECT_EQ(ZROpen(&second, host.ini().c_str(), "serial"), ZR_ERR_OPEN_PORT);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(ZRClose(&first), ZR_OK);
    EXPECT_EQ(ZROpen(&second, host.ini().c_str(), "serial"), ZR_OK);
    EXPECT_EQ(ZRClose(&second), ZR_OK);
}

// A reader on a port of its own: ZR_TCP_PORT reaches it, the default port does not.
TEST(SessionE2E, TcpPortKeyReachesAReaderOnAnotherPort) {
    SimHost host;
    zr::sim::Simulator other;
    const auto address = SimHost::unique_address();
    std::string error;
    ASSERT_TRUE(other.listen_tcp(address, 7087, error)) << error;
    other.start();
    const std::string section = "ZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + address + "\n";
    const auto ini = host.write_file("port.ini", "[port]\n" + section + "ZR_TCP_PORT=7087\n\n[default]\n" + section);
    int h = -1;
    ASSERT_EQ(ZROpen(&h, ini.c_str(), "port"), ZR_OK) << ZRLastCause();
    EXPECT_EQ(ZRReset(h), ZR_OK);
    EXPECT_EQ(other.requests(), (std::vector<zr::sim::Bytes>{{0x00, 0x01, 0x67}}));
    EXPECT_EQ(ZRClose(&h), ZR_OK);
    EXPECT_EQ(ZROpen(&h, ini.c_str(), "default"), ZR_ERR_CONNECT);
    EXPECT_EQ(std::string(ZRLastCause()), "connection refused by " + address + ":7086");
}

TEST(SessionE2E, RefusedConnectionFailsAtOnce) {
    SimHost host;
    auto ini = host.write_file("nobody.ini", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" +
                                                 SimHost::unique_address() + "\n");
    int h = -1;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ZROpen(&h, ini.c_str(), "r"), ZR_ERR_CONNECT);
    EXPECT_EQ(h, -1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST(SessionE2E, MalformedConfigurationFilesGiveDefaultsOrConfigError) {
    SimHost host;
    struct Case {
        const char* name;
        std::string text;
        int result;
    };
    const Case cases[] = {
        {"empty", "", 0},
        {"binary garbage", std::string("\x00\xFF\xFE[\x01]\r\n=\x80", 10), 0},
        {"very long lines", "[r]\nZR_PORT_TYPE=" + std::string(1 << 20, 'x') + "\n" + std::string(1 << 16, '[') + "\n", 0},
        {"empty values", "[r]\nZR_PORT_TYPE=\nZR_COM_NUMBER=\nZR_HOST_NAME=\n", ZR_ERR_CONFIG},
        {"good, CRLF and comments", "; reader\r\n[r]\r\nZR_PORT_TYPE = TCP ; over the network\r\nZR_COM_NUMBER=COM1\r\nZR_HOST_NAME=" +
                                         host.address() + "\r\n", ZR_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = host.write_file("bad.ini", c.text);
        int h = -1;
        EXPECT_EQ(ZROpen(&h, path.c_str(), "r"), c.result);
        if (h != -1) {
            EXPECT_EQ(ZRReset(h), ZR_OK);
            EXPECT_EQ(ZRClose(&h), ZR_OK);
        }
    }
    int h = -1;
    EXPECT_EQ(ZROpen(&h, (host.ini() + ".missing").c_str(), "r"), 0) << "a missing file reads as 0 everywhere";
}
