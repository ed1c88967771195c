// Inventories, reports, listening, raw frames and the EAS alarm: the shared library against
// zrsim on real loopback TCP and a real pseudo-terminal.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <thread>

#include "sim_fixture.h"
#include "units/inventory.h"
#include "zr.h"

using namespace zr::test;
using namespace std::chrono_literals;
using zr::sim::Bytes;
using zr::sim::Fault;
using zr::sim::FaultKind;
using zr::sim::InventoryUnit;
using zr::sim::ReaderModel;

namespace {

class InventoryE2E : public BothLinks {
protected:
    using Buffer = std::array<unsigned char, 256>;
    // Calls `report` until it gives something other than 0, for at most `limit`.
    static int poll(const std::function<int()>& report, std::chrono::milliseconds limit = 1000ms) {
        const auto end = std::chrono::steady_clock::now() + limit;
        int r = 0;
        while ((r = report()) == 0 && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
        return r;
    }
    template <typename F>
    auto model(F&& f) {
        return host.sim().with_model([&](ReaderModel& m) { return f(m); });
    }
    int sent(int payload_bytes) const { return serial() ? payload_bytes : payload_bytes + 2; }
    static Bytes epc_of(int n) {
        return {0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(n)};
    }
};

const unsigned char kOpenPassword[4] = {0, 0, 0, 0};

struct PairCase {
    const char* name;
    std::function<int(int)> start;
    int (*report)(int, unsigned char*);
    int payload_bytes;
    int reports;
    std::size_t check_at;  // where tag n's last identifying byte (n) lands in the buffer
};

const PairCase kPairs[] = {
    {"identify", [](int h) { return ZRIdentify(h, 1, 0); }, ZRReport, 5, 3, 9},
    {"direct read", [](int h) { return ZRDirectRead(h, 1, 0); }, ZRDirectReport, 5, 3, 13},
    {"long identify", [](int h) { return ZRLongIdentify(h, 0, 1, 0); }, ZRLongReport, 6, 3, 21},
    {"user identify", [](int h) { return ZRUserIdentify(h, 0, 1, 0, 0, 0, 0); }, ZRUserReport, 22, 3, 13},
    {"EPC", [](int h) { return ZRIdentifyEpcCode(h, 1, 0, 0); }, ZREpcCodeReport, 6, 3, 15},
    {"TID", [](int h) { return ZRIdentifyTIDCode(h, 1, 0, 0, kOpenPassword); }, ZRTIDCodeReport, 10, 3, 11},
};

}  // namespace

TEST_P(InventoryE2E, StartIsFollowedByOneReportPerTag) {
    for (const auto& c : kPairs) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.start(handle), sent(c.payload_bytes));
        for (int n = 1; n <= c.reports; ++n) {
            Buffer buffer{};
            ASSERT_EQ(poll([&] { return c.report(handle, buffer.data()); }), ZR_OK) << "report " << n;
            EXPECT_EQ(buffer[c.check_at], n);
        }
        Buffer buffer{};
        EXPECT_EQ(c.report(handle, buffer.data()), 0) << "no more reports";
    }
}

TEST_P(InventoryE2E, UserDataReadIsCollectedByItsReport) {
    ASSERT_EQ(ZRGetUseData(handle, kOpenPassword, 0, 2, 0), sent(10));
    Buffer buffer{};
    ASSERT_EQ(poll([&] { return ZRGetUseDataReport(handle, buffer.data()); }), ZR_OK);
    const Bytes user = model([](ReaderModel& m) { return m.tags[0].user; });
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), (Bytes{0x00, 2, user[0], user[1], user[2], user[3]}));

    model([](ReaderModel& m) { m.tags[0].visit_password = {1, 2, 3, 4}; return 0; });
    ASSERT_EQ(ZRGetUseData(handle, kOpenPassword, 0, 2, 0), sent(10));
    EXPECT_EQ(poll([&] { return ZRGetUseDataReport(handle, buffer.data()); }), 3003);  // wrong password
}

TEST_P(InventoryE2E, EmptyFieldReportsTheReaderStatus) {
    model([](ReaderModel& m) { m.tags.clear(); return 0; });
    Buffer buffer{};
    ZRIdentify(handle, 1, 0);
    EXPECT_EQ(poll([&] { return ZRReport(handle, buffer.data()); }), 3002);
    ZRLongIdentify(handle, 0, 1, 0);
    EXPECT_EQ(poll([&] { return ZRLongReport(handle, buffer.data()); }), ZR_ERR_REPORT_STATUS);
}

TEST_P(InventoryE2E, UncollectedReportsAreDroppedByTheNextCommand) {
    ASSERT_GT(ZRIdentifyEpcCode(handle, 1, 0, 0), 0);
    std::this_thread::sleep_for(100ms);  // all three reports are waiting
    EXPECT_EQ(ZRDataReturn(handle, 1, 0), ZR_OK);
    Buffer buffer{};
    EXPECT_EQ(ZREpcCodeReport(handle, buffer.data()), 0);
    EXPECT_EQ(ZRReset(handle), ZR_OK);
}

TEST_P(InventoryE2E, EasAlarmStartReportsAndEnd) {
    model([](ReaderModel& m) { m.unit<InventoryUnit>().alarm_period_ms = 30; return 0; });
    EXPECT_EQ(ZRConfigEASflag(handle, 1, kOpenPassword, 1), ZR_OK);
    EXPECT_TRUE(model([](ReaderModel& m) { return m.tags[0].eas; }));

    EXPECT_EQ(ZRStartEASAlarm(handle, 1), sent(6));
    for (int i = 0; i < 2; ++i) {
        Buffer buffer{};
        ASSERT_EQ(poll([&] { return ZREASAlarmReport(handle, buffer.data()); }), ZR_OK);
        Bytes expected{0x00, 0x01};
        auto epc = epc_of(1);
        expected.insert(expected.end(), epc.begin(), epc.end());
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 14), expected);
    }
    EXPECT_EQ(ZREndEASAlarm(handle, 1), ZR_OK);
    EXPECT_FALSE(model([](ReaderModel& m) { return m.unit<InventoryUnit>().alarm_on; }));
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(ZRReset(handle), ZR_OK);  // clears whatever was still on its way
    Buffer buffer{};
    EXPECT_EQ(ZREASAlarmReport(handle, buffer.data()), 0) << "no alarms once the mode is off";
}

TEST_P(InventoryE2E, NoAlarmWithoutAFlaggedTag) {
    EXPECT_EQ(ZRStartEASAlarm(handle, 1), sent(6));
    Buffer buffer{};
    EXPECT_EQ(ZREASAlarmReport(handle, buffer.data()), 0);
    EXPECT_EQ(ZREndEASAlarm(handle, 1), ZR_OK);
}

TEST_P(InventoryE2E, ListenTakesThePushedFrameAndTheReaderGetsTheAcknowledgement) {
    const Bytes frame = model([](ReaderModel& m) {
        auto& unit = m.unit<InventoryUnit>();
        unit.push_listen_frame(m);
        return unit.last_listen;
    });
    std::array<unsigned char, 6> last_six{};
    std::array<unsigned char, 8> first{}, second{};
    EXPECT_EQ(ZRListenReader(handle, 0, last_six.data(), first.data(), second.data()), ZR_OK);
    EXPECT_EQ(Bytes(first.begin(), first.end()), Bytes(frame.begin() + 3, frame.begin() + 11));
    EXPECT_EQ(Bytes(second.begin(), second.end()), Bytes(frame.begin() + 11, frame.begin() + 19));
    EXPECT_EQ(Bytes(last_six.begin(), last_six.end()), Bytes(frame.begin() + 13, frame.begin() + 19));
    EXPECT_EQ(poll([&] { return model([](ReaderModel& m) { return m.unit<InventoryUnit>().acks_ok; }); }), 1);

    // Nothing pushed: the outputs are zero and the reader hears a refusal.
    EXPECT_EQ(ZRListenReader(handle, 0, last_six.data(), first.data(), second.data()), 0);
    EXPECT_EQ(first, (std::array<unsigned char, 8>{}));
    EXPECT_EQ(poll([&] { return model([](ReaderModel& m) { return m.unit<InventoryUnit>().acks_refused; }); }), 1);
    EXPECT_EQ(model([](ReaderModel& m) { return m.unit<InventoryUnit>().acks_wrong; }), 0);
    EXPECT_EQ(ZRReset(handle), ZR_OK);
}

TEST_P(InventoryE2E, CodeSendingMakesThreePasses) {
    host.sim().clear_requests();
    const unsigned char data[] = {0x10, 0x55, 0x56};  // the serial start and escape bytes too
    EXPECT_EQ(ZRCodeSending(handle, 3, 0, data), ZR_OK);
    EXPECT_EQ(model([](ReaderModel& m) { return m.unit<InventoryUnit>().code_sendings; }), 3);
    EXPECT_EQ(host.sim().requests(), std::vector<Bytes>(3, Bytes{0x00, 0x04, 0x5F, 0x10, 0x55, 0x56}));

    // A lost first answer does not matter; a lost last one does.
    host.sim().set_fault(0x5F, {FaultKind::drop, 0, 0, 1});
    EXPECT_EQ(ZRCodeSending(handle, 3, 0, data), ZR_OK);
    host.sim().set_fault(0x5F, {FaultKind::status, 0x05, 0, 1});
    EXPECT_EQ(ZRCodeSending(handle, 3, 0, data), ZR_OK);
}

TEST_P(InventoryE2E, DataReturn) {
    EXPECT_EQ(ZRDataReturn(handle, 1, 3), ZR_OK);
    EXPECT_EQ(model([](ReaderModel& m) { return m.unit<InventoryUnit>().data_return_option; }), 3);
    EXPECT_EQ(ZRDataReturn(handle, 1, 5), ZR_ERR_PARAMETER);
}

TEST_P(InventoryE2E, FaultyReportsGiveTheirResultsAndTheLinkRecovers) {
    struct Case {
        const char* name;
        Fault fault;
        int first;  // the first report's result
    };
    const Case cases[] = {
        {"dropped", {FaultKind::drop}, 0},
        {"bad crc", {FaultKind::bad_crc}, 0},
        {"wrong echo", {FaultKind::wrong_echo}, 0},
        {"status 0x05", {FaultKind::status, 0x05}, 1005},
        {"split 3 x 5 ms", {FaultKind::split, 3, 5}, ZR_OK},
        {"late by 80 ms", {FaultKind::delay, 80}, ZR_OK},
        {"oversize length", {FaultKind::oversize, 40}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fault once = c.fault;
        once.times = 1;
        host.sim().set_fault(0x71, once);
        ASSERT_GT(ZRIdentify(handle, 1, 0), 0);
        Buffer buffer{};
        EXPECT_EQ(poll([&] { return ZRReport(handle, buffer.data()); }, 200ms), c.first);
        std::this_thread::sleep_for(50ms);
        ASSERT_GT(ZRIdentify(handle, 1, 0), 0);
        EXPECT_EQ(poll([&] { return ZRReport(handle, buffer.data()); }), ZR_OK);
        EXPECT_EQ(buffer[9], 1);
    }
}

TEST_P(InventoryE2E, FaultyPushedFramesAreNotTaken) {
    for (FaultKind kind : {FaultKind::bad_crc, FaultKind::drop}) {
        host.sim().set_fault(0xA1, {kind, 0, 0, 1});
        model([](ReaderModel& m) { m.unit<InventoryUnit>().push_listen_frame(m); return 0; });
        std::array<unsigned char, 6> last_six{};
        std::array<unsigned char, 8> first{}, second{};
        EXPECT_EQ(ZRListenReader(handle, 0, last_six.data(), first.data(), second.data()), 0);
    }
    host.sim().set_fault(0x8D, {FaultKind::bad_crc, 0, 0, 1});
    model([](ReaderModel& m) {
        m.tags[0].eas = true;
        m.unit<InventoryUnit>().alarm_period_ms = 1000;
        return 0;
    });
    ZRStartEASAlarm(handle, 1);
    Buffer buffer{};
    EXPECT_EQ(ZREASAlarmReport(handle, buffer.data()), 0) << "the first alarm had a bad CRC";
    EXPECT_EQ(ZREndEASAlarm(handle, 1), ZR_OK);
}

INSTANTIATE_TEST_SUITE_P(Links, InventoryE2E, ::testing::Values("tcp", "serial"), link_name);

TEST(PopulationE2E, SimulatorServesTheTagsItIsGiven) {
    SimHost host;
    host.sim().with_model([](ReaderModel& m) {
        m.tags.clear();
        zr::sim::Tag t;
        t.id = {1, 2, 3, 4, 5, 6, 7, 8};
        t.epc = {0xAB, 0xCD};
        m.tags.push_back(t);
        return 0;
    });
    int h = -1;
    ASSERT_EQ(ZROpen(&h, host.ini().c_str(), "tcp"), ZR_OK);
    ASSERT_GT(ZRIdentifyEpcCode(h, 1, 0, 0), 0);
    std::array<unsigned char, 256> buffer{};
    int r = 0;
    for (int i = 0; i < 50 && (r = ZREpcCodeReport(h, buffer.data())) == 0; ++i) {
    }
    ASSERT_EQ(r, ZR_OK);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), (Bytes{0x00, 0x04, 0x81, 0x00, 0xAB, 0xCD}));
    EXPECT_EQ(ZREpcCodeReport(h, buffer.data()), 0);
    EXPECT_EQ(ZRClose(&h), ZR_OK);
}
