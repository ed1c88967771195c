// Reader configuration end to end: the shared library against zrsim on both links.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim_fixture.h"
#include "units/config.h"
#include "zr.h"

using namespace zr::test;

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ConfigE2E : public BothLinks {
protected:
    void TearDown() override {
        ZRSetDeviceClass(0, ZR_MODEL_CLASS3);  // the class is library-wide
        BothLinks::TearDown();
    }
    zr::sim::ConfigUnit& unit(zr::sim::ReaderModel& m) { return m.unit<zr::sim::ConfigUnit>(); }
};

}  // namespace

TEST_P(ConfigE2E, PowerSetThenQuery) {
    EXPECT_EQ(ZRPowerOn(handle, 1), ZR_OK);
    EXPECT_EQ(ZRPowerSet(handle, 0, 2, 0x1A, 0x0F), ZR_OK);
    unsigned char power[2] = {};
    EXPECT_EQ(ZRPowerQuery(handle, 0, 2, power), ZR_OK);
    EXPECT_EQ(power[0], 0x1A);
    EXPECT_EQ(power[1], 0x0F);
    EXPECT_EQ(ZRPowerOff(handle), ZR_OK);
    EXPECT_FALSE(host.sim().with_model([&](auto& m) { return unit(m).rf_on; }));
}

TEST_P(ConfigE2E, SystemAndTagAreasWriteThenRead) {
    const unsigned char data[5] = {0x10, 0x55, 0x56, 0x57, 0xFF};  // stuffing bytes included
    unsigned char back[5] = {};
    EXPECT_EQ(ZRSysFastSet(handle, 0x80, 5, data), ZR_OK);
    EXPECT_EQ(ZRSysQuery(handle, 0x80, 5, back), ZR_OK);
    EXPECT_EQ(0, std::memcmp(back, data, 5));
    EXPECT_EQ(ZRTagFastSet(handle, 0x10, 5, data), ZR_OK);
    EXPECT_EQ(ZRTagQuery(handle, 0x10, 5, back), ZR_OK);
    EXPECT_EQ(0, std::memcmp(back, data, 5));
    EXPECT_EQ(ZRSysQuery(handle, 0xFE, 4, back), 3005);  // past the end, reported on both links
    EXPECT_EQ(ZRSysSet(handle, 0x90, 2, data), serial() ? ZR_OK : 0);
    EXPECT_EQ(host.sim().with_model([&](auto& m) { return unit(m).system[0x91]; }), serial() ? 0x55 : 0);
    unsigned char frame[54] = {};
    EXPECT_EQ(ZRFreqQuery(handle, 0x40, 0, frame), ZR_OK);
    EXPECT_EQ(frame[2], 0x62);
    EXPECT_EQ(frame[4], 16);
    EXPECT_EQ(ZRSetReadCfg(handle, 2, 2), ZR_OK);
}

TEST_P(ConfigE2E, NetworkIdentityMovesTheReaderAndTheConfiguration) {
    const unsigned char mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    EXPECT_EQ(ZRMACSet(handle, 0, 6, mac), ZR_OK);
    const std::string moved = SimHost::unique_address();
    std::string error;
    ASSERT_TRUE(host.sim().listen_tcp(moved, zr::sim::kReaderPort, error)) << error;

    const std::string section = GetParam();
    ASSERT_EQ(ZRNetAddrSet(handle, 0, section.c_str(), moved.c_str(), "255.0.0.0", "127.0.0.1"), ZR_OK);
    unsigned char net[12] = {};
    EXPECT_EQ(ZRSysQuery(handle, 6, 12, net), ZR_OK);
    EXPECT_EQ(net[0], 127);
    EXPECT_EQ(net[4], 255);
    const auto ini = read_file(host.ini());
    EXPECT_NE(ini.find("ZR_HOST_NAME=" + moved), std::string::npos) << ini;
    EXPECT_NE(ini.find("ZR_SUBNET=255.0.0.0"), std::string::npos) << ini;
    EXPECT_NE(ini.find("ZR_GATE=127.0.0.1"), std::string::npos) << ini;

    // A malformed address changes neither the reader nor the file.
    EXPECT_EQ(ZRNetAddrSet(handle, 0, section.c_str(), "127.0.0.300", "255.0.0.0", "127.0.0.1"), 0);
    EXPECT_EQ(read_file(host.ini()), ini);

    ASSERT_EQ(ZRClose(&handle), ZR_OK);
    if (!serial()) {
        // The old address is no longer in the file: a new session reaches the new one.
        ASSERT_EQ(ZROpen(&handle, host.ini().c_str(), "tcp"), ZR_OK);
        EXPECT_EQ(ZRReset(handle), ZR_OK);
    } else {
        ASSERT_EQ(ZROpen(&handle, host.ini().c_str(), "serial"), ZR_OK);
    }
}

TEST_P(ConfigE2E, DeviceClassSwitchesCodesAndStatuses) {
    int info = 0;
    EXPECT_EQ(ZRGetDeviceClass(handle, &info), ZR_OK);
    EXPECT_EQ(info, ZR_MODEL_CLASS3);
    const unsigned char settings[2] = {0x03, 0x04};
    EXPECT_EQ(ZRSetInterfere(handle, settings), ZR_OK);

    host.sim().with_model([](auto& m) { m.device_class = 1; });
    // The library still speaks class 3: the reader does not know the codes.
    EXPECT_EQ(ZRCloseInterfere(handle), serial() ? 1001 : ZR_ERR_NO_REPLY);
    ASSERT_EQ(ZRSetDeviceClass(0, ZR_MODEL_CLASS1), ZR_OK);
    EXPECT_EQ(ZRGetDeviceClass(handle, &info), ZR_OK);
    EXPECT_EQ(info, ZR_MODEL_CLASS1);
    EXPECT_EQ(ZRSetInterfere(handle, settings), ZR_OK);
    unsigned char got[2] = {};
    EXPECT_EQ(ZRGetInterfere(handle, got), ZR_OK);
    EXPECT_EQ(got[0], 0x03);
    EXPECT_EQ(got[1], 0x04);
    EXPECT_EQ(ZRCloseInterfere(handle), ZR_OK);
    unsigned char buffer[4];
    EXPECT_EQ(ZRSysQuery(handle, 0xFE, 4, buffer), ZR_ERR_PARAMETER);  // 0x3F in classes 1 and 2
    EXPECT_EQ(ZRTestModeSet(handle, 1), ZR_OK);
}

TEST_P(ConfigE2E, ClockFixedNumberAndState) {
    const unsigned char clock[6] = {26, 12, 8, 22, 15, 0};
    EXPECT_EQ(ZRSetReaderTime(handle, 0, clock), ZR_OK);
    const unsigned char bad_clock[6] = {26, 13, 8, 22, 15, 0};
    EXPECT_EQ(ZRSetReaderTime(handle, 0, bad_clock), 1002);
    EXPECT_EQ(ZRSetReaderfixNO(handle, 0x2A), ZR_OK);
    EXPECT_EQ(ZRGetReaderfixNO(handle, nullptr), ZR_OK);
    EXPECT_EQ(ZREpcPrintPowerOs(handle, 1), ZR_OK);
    EXPECT_EQ(ZRPowerOn(handle, 1), ZR_OK);
    unsigned char state[6] = {};
    EXPECT_EQ(ZRGetReaderState(handle, 0, state), ZR_OK);
    EXPECT_EQ(state[0], 1);     // RF on
    EXPECT_EQ(state[3], 0x2A);  // fixed number
    EXPECT_EQ(ZRIOControlSet(handle, 1, 1), ZR_OK);
    EXPECT_EQ(ZRIOControlQuery(handle, 1, 0), ZR_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, ConfigE2E, ::testing::Values("tcp", "serial"), link_name);

TEST(SerialPortE2E, OnlyATerminalIsASerialPort) {
    // The INI file itself named as the port is the case that matters: it must not take frames.
    const auto dir = std::filesystem::temp_directory_path() / ("zr-port-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto ini = (dir / "zr.ini").string();
    const char* ports[] = {"<the INI file>", "<its directory>", "/dev/null", "/dev/zr-no-such-port"};
    for (const char* port : ports) {
        SCOPED_TRACE(port);
        const std::string name = port == ports[0] ? ini : port == ports[1] ? dir.string() : port;
        const std::string text = "[r]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + name + "\nZR_HOST_NAME=x\n";
        std::ofstream(ini, std::ios::binary) << text;
        int handle = -1;
        EXPECT_EQ(ZROpen(&handle, ini.c_str(), "r"), ZR_ERR_OPEN_PORT);
        EXPECT_EQ(handle, -1);
        EXPECT_EQ(read_file(ini), text);
    }
    std::filesystem::remove_all(dir);
}
