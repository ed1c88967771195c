// The simulator's configuration unit: what it answers, and that every configuration command of
// the library works against it on both links.
#include "config_support.h"

#include "faults.h"
#include "model.h"
#include "units/config.h"
#include "units/core.h"

using namespace zr::test;
using namespace zr::test::config;
using zr::sim::ReaderModel;

namespace {

Bytes answer(ReaderModel& m, const Bytes& payload) {
    auto replies = m.handle(payload);
    return replies.size() == 1 ? replies[0] : Bytes{0xFF, 0xFF};
}

}  // namespace

TEST(SimConfig, AnswersAndChecksItsRequests) {
    struct Case {
        const char* name;
        int device_class;
        Bytes request, reply;
    };
    const Case cases[] = {
        {"power query by field", 3, {0x00, 0x03, 0x62, 0x03, 0x00}, {0x00, 0x04, 0x62, 0x00, 0x1E, 0x1E}},
        {"system query", 3, {0x00, 0x03, 0x62, 0x00, 0x03}, {0x00, 0x05, 0x62, 0x00, 0x01, 0x02, 0x10}},
        {"device information", 2, {0x00, 0x03, 0x62, 0x21, 0x00}, {0x00, 0x06, 0x62, 0x00, 0x02, 0, 0, 0}},
        {"no field at this address", 3, {0x00, 0x03, 0x62, 0x30, 0x00}, {0x00, 0x02, 0x62, 0x00}},
        {"query past the end, class 3", 3, {0x00, 0x03, 0x62, 0xFF, 0x02}, {0x00, 0x04, 0x62, 0x64, 0, 0}},
        {"query past the end, class 1", 1, {0x00, 0x03, 0x62, 0xFF, 0x02}, {0x00, 0x04, 0x62, 0x3F, 0, 0}},
        {"block write", 3, {0x00, 0x05, 0x63, 0x30, 0x02, 0xAA, 0xBB}, {0x00, 0x02, 0x63, 0x00}},
        {"block count disagrees with LEN", 3, {0x00, 0x05, 0x63, 0x30, 0x03, 0xAA, 0xBB}, {0x00, 0x02, 0x63, 0x02}},
        {"block write read-only", 3, {0x00, 0x04, 0x63, 0x22, 0x01, 0xAA}, {0x00, 0x02, 0x63, 0x63}},
        {"block write past the end", 3, {0x00, 0x05, 0x63, 0xFF, 0x02, 0xAA, 0xBB}, {0x00, 0x02, 0x63, 0x64}},
        {"single-byte write", 3, {0x00, 0x04, 0x63, 0x00, 0x30, 0xAA}, {0x00, 0x02, 0x63, 0x00}},
        {"single-byte write past the end", 3, {0x00, 0x04, 0x63, 0x01, 0x00, 0xAA}, {0x00, 0x02, 0x63, 0x64}},
        {"single-byte write read-only", 1, {0x00, 0x04, 0x63, 0x00, 0x02, 0xAA}, {0x00, 0x02, 0x63, 0x93}},
        {"0x63 without parameters", 3, {0x00, 0x01, 0x63}, {0x00, 0x02, 0x63, 0x02}},
        {"MAC of 9 bytes", 3, {0x00, 0x0C, 0x63, 0x05, 0x09, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0x00, 0x02, 0x63, 0x02}},
        {"read configuration", 3, {0x00, 0x04, 0x64, 0x07, 0x02, 0x01}, {0x00, 0x05, 0x64, 0x00, 0x07, 0x02, 0x01}},
        {"read configuration mode 5", 3, {0x00, 0x04, 0x64, 0x07, 0x05, 0x01}, {0x00, 0x05, 0x64, 0x02, 0, 0, 0}},
        {"0x64 of 4 parameters", 3, {0x00, 0x05, 0x64, 1, 1, 1, 1}, {0x00, 0x05, 0x64, 0x02, 0, 0, 0}},
        {"tag area write", 3, {0x00, 0x04, 0x65, 0x10, 0x01, 0x99}, {0x00, 0x02, 0x65, 0x00}},
        {"power on with two bytes", 3, {0x00, 0x03, 0x60, 1, 2}, {0x00, 0x02, 0x60, 0x02}},
        {"I/O query", 3, {0x00, 0x02, 0xD2, 0x01}, {0x00, 0x03, 0xD2, 0x00, 0x00}},
        {"class 3 interference in class 1", 1, {0x00, 0x01, 0x6C}, {0x00, 0x02, 0x6C, 0x01}},
        {"class 1 interference in class 3", 3, {0x00, 0x01, 0x4D}, {0x00, 0x02, 0x4D, 0x01}},
        {"interference get", 2, {0x00, 0x02, 0x4C, 0x05}, {0x00, 0x07, 0x4C, 0x00, 0x05, 0, 0, 0, 0}},
        {"clock", 3, {0x00, 0x08, 0xA2, 26, 12, 31, 23, 59, 59, 0}, {0x00, 0x08, 0xA2, 0x00, 26, 12, 31, 23, 59, 59}},
        {"clock month 13", 3, {0x00, 0x08, 0xA2, 26, 13, 1, 0, 0, 0, 0}, {0x00, 0x08, 0xA2, 0x02, 0, 0, 0, 0, 0, 0}},
        {"fixed number", 3, {0x00, 0x02, 0xA3, 0x42}, {0x00, 0x07, 0xA3, 0x00, 0x42, 0x03, 0, 0, 0}},
        {"fixed number query with a parameter", 1, {0x00, 0x02, 0xA4, 0x42}, {0x00, 0x07, 0xA4, 0x02, 0, 0, 0, 0, 0}},
        {"state", 3, {0x00, 0x02, 0xA0, 0x09}, {0x00, 0x09, 0xA0, 0x00, 0x09, 0, 0, 0, 1, 3, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderModel m;
        m.device_class = c.device_class;
        EXPECT_EQ(answer(m, c.request), c.reply);
    }
}

TEST(SimConfig, KeepsTheMacApartFromTheNetworkBlock) {
    ReaderModel m;
    answer(m, {0x00, 0x09, 0x63, 0x05, 0x06, 1, 2, 3, 4, 5, 6});
    answer(m, {0x00, 0x0F, 0x63, 0x06, 0x0C, 10, 0, 0, 9, 255, 0, 0, 0, 10, 0, 0, 1});
    EXPECT_EQ(answer(m, {0x00, 0x03, 0x62, 0x05, 0x00}), (Bytes{0x00, 0x08, 0x62, 0x00, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(answer(m, {0x00, 0x03, 0x62, 0x06, 0x04}), (Bytes{0x00, 0x06, 0x62, 0x00, 10, 0, 0, 9}));
}

TEST(SimConfig, EveryCommandWorksAgainstTheModelOnBothLinks) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Session s(l);
        ReaderModel model;
        s.peer.model = &model;
        auto& unit = model.unit<zr::sim::ConfigUnit>();
        std::uint8_t buf[64] = {};
        const std::uint8_t data[12] = {0x11, 0x22, 0x33};

        EXPECT_EQ(ZRSysFastSet(s.h, 0x30, 3, data), ZR_OK);
        EXPECT_EQ(ZRSysQuery(s.h, 0x30, 3, buf), ZR_OK);
        EXPECT_EQ(Bytes(buf, buf + 3), (Bytes{0x11, 0x22, 0x33}));
        EXPECT_EQ(ZRSysQuery(s.h, 0xFE, 4, buf), 3005);  // the error carries the data width
        EXPECT_EQ(ZRTagFastSet(s.h, 0x02, 2, data), ZR_OK);
        EXPECT_EQ(ZRTagQuery(s.h, 0x02, 2, buf), ZR_OK);
        EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0x11, 0x22}));
        EXPECT_EQ(ZRSysSet(s.h, 0x80, 2, data), l.serial ? ZR_OK : 0);
        EXPECT_EQ(unit.system[0x80], l.serial ? 0x11 : 0);
        EXPECT_EQ(ZRFreqQuery(s.h, 0x40, 0, buf), ZR_OK);
        EXPECT_EQ(buf[1], 52);  // LEN of a 50-byte table
        EXPECT_EQ(buf[4], 16);  // channels
        EXPECT_EQ(ZRSetReadCfg(s.h, 3, 2), ZR_OK);
        EXPECT_EQ(unit.read_config, (std::array<std::uint8_t, 3>{5, 3, 2}));

        EXPECT_EQ(ZRPowerOn(s.h, 1), ZR_OK);
        EXPECT_TRUE(unit.rf_on);
        EXPECT_EQ(ZRPowerSet(s.h, 0, 2, 0x14, 0x15), ZR_OK);
        EXPECT_EQ(ZRPowerQuery(s.h, 0, 2, buf), ZR_OK);
        EXPECT_EQ(Bytes(buf, buf + 2), (Bytes{0x14, 0x15}));
        EXPECT_EQ(ZRPowerOff(s.h), ZR_OK);
        EXPECT_FALSE(unit.rf_on);
        EXPECT_EQ(ZRIOControlSet(s.h, 2, 1), ZR_OK);
        EXPECT_EQ(unit.io_lines[2], 1);
        EXPECT_EQ(ZRIOControlQuery(s.h, 2, 0), ZR_OK);

        EXPECT_EQ(ZRMACSet(s.h, 0, 6, data), ZR_OK);
        EXPECT_EQ(ZRNetAddrSet(s.h, 0, "reader", "10.1.2.3", "255.255.0.0", "10.1.0.1"), ZR_OK);
        EXPECT_EQ(ZRSysQuery(s.h, 6, 12, buf), ZR_OK);
        EXPECT_EQ(Bytes(buf, buf + 12), (Bytes{10, 1, 2, 3, 255, 255, 0, 0, 10, 1, 0, 1}));

        int value = 0;
        EXPECT_EQ(ZRGetDeviceClass(s.h, &value), ZR_OK);
        EXPECT_EQ(value, ZR_MODEL_CLASS3);
        EXPECT_EQ(ZRTestModeSet(s.h, 2), ZR_OK);
        EXPECT_EQ(model.unit<zr::sim::CoreUnit>().test_mode, 2);
        const std::uint8_t settings[2] = {0x0A, 0x0B};
        EXPECT_EQ(ZRSetInterfere(s.h, settings), ZR_OK);
        std::uint8_t got[2] = {};
        EXPECT_EQ(ZRGetInterfere(s.h, got), ZR_OK);
        EXPECT_EQ(Bytes(got, got + 2), (Bytes{0x0A, 0x0B}));

        const std::uint8_t clock[6] = {26, 12, 8, 21, 0, 0};
        EXPECT_EQ(ZRSetReaderTime(s.h, 0, clock), ZR_OK);
        EXPECT_EQ(ZRSetReaderfixNO(s.h, 7), ZR_OK);
        EXPECT_EQ(ZRGetReaderfixNO(s.h, nullptr), ZR_OK);
        EXPECT_EQ(ZREpcPrintPowerOs(s.h, 3), ZR_OK);
        std::uint8_t state[6] = {};
        EXPECT_EQ(ZRGetReaderState(s.h, 0, state), ZR_OK);
        EXPECT_EQ(Bytes(state, state + 6), (Bytes{0, 2, 1, 7, 3, 0}));  // RF off, test mode 2, interfering
        EXPECT_EQ(ZRCloseInterfere(s.h), ZR_OK);

        // Class 1 on both sides: other interference codes, other error statuses.
        model.device_class = 1;
        ZRSetDeviceClass(0, ZR_MODEL_CLASS1);
        EXPECT_EQ(ZRSetInterfere(s.h, settings), ZR_OK);
        EXPECT_EQ(ZRSysQuery(s.h, 0xFE, 4, buf), ZR_ERR_PARAMETER);  // 0x3F in class 1
        EXPECT_EQ(ZRSysFastSet(s.h, 0x21, 1, data), 4004);            // read-only: 0x93
        EXPECT_EQ(ZRGetDeviceClass(s.h, &value), ZR_OK);
        EXPECT_EQ(value, ZR_MODEL_CLASS1);
    }
}

// zrsim's trace shows each reply as its fault sent it.
TEST(SimFaults, FramesAreTracedAsSent) {
    using zr::sim::Fault;
    using zr::sim::FaultKind;
    const zr::sim::Bytes reply{0x00, 0x02, 0x67, 0x00};  // good CRC D2 2D
    struct Case {
        FaultKind kind;
        int value;
        std::optional<zr::sim::Bytes> sent;
    };
    const Case cases[] = {
        {FaultKind::bad_crc, 0, zr::sim::Bytes{0x00, 0x02, 0x67, 0x00, 0xD2, 0xD2}},
        {FaultKind::status, 0x3A, zr::sim::with_crc({0x00, 0x02, 0x67, 0x3A})},
        {FaultKind::wrong_echo, 0, zr::sim::with_crc({0x00, 0x02, 0x68, 0x00})},
        {FaultKind::delay, 100, zr::sim::with_crc(reply)},
        {FaultKind::drop, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        Fault f;
        f.kind = c.kind;
        f.value = c.value;
        EXPECT_EQ(zr::sim::frame_as_sent(reply, f), c.sent) << zr::sim::describe(f);
    }
}
