// Split-phase inventories on the fake platform: start requests, report collection, what each
// report accepts and copies, and what a report does with nothing waiting.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {



constexpr unsigned char kUntouched = 0xEE;
using Buffer = std::array<unsigned char, 256>;
Buffer fresh() {
    Buffer b;
    b.fill(kUntouched);
    return b;
}
Bytes head(const Buffer& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }
bool untouched(const Buffer& b) {
    for (auto x : b)
        if (x != kUntouched) return false;
    return true;
}

const unsigned char kPassword[4] = {0x11, 0x22, 0x33, 0x44};

struct StartCase {
    const char* name;
    std::function<int(int)> call;
    Bytes payload;
};

const std::string kUserKeys =
    "ZR_SCAN_TRIES=3\nZR_REPEAT_DATAS=4\nZR_READ_TIMEOUT=5\nZR_ANTENNA_CONCTL=2\n"
    "[ESPECIAL FLAG]\nZR_ADDERIESS=6\nZR_LENGTH=3\nZR_MATCH_DATA=ABCDEF\n";

const StartCase kStarts[] = {
    {"ZRIdentify", [](int h) { return ZRIdentify(h, 1, 0); }, {0x00, 0x03, 0x71, 0x01, 0x00}},
    {"ZRDirectRead", [](int h) { return ZRDirectRead(h, 0x102, 0x1FF); }, {0x00, 0x03, 0xD0, 0x02, 0xFF}},
    // The antenna is the third parameter but goes first.
    {"ZRLongIdentify", [](int h) { return ZRLongIdentify(h, 7, 2, 9); }, {0x00, 0x04, 0x49, 0x02, 0x07, 0x09}},
    {"ZRUserIdentify", [](int h) { return ZRUserIdentify(h, 7, 2, 0x21, 0x22, 0x23, 0x24); },
     {0x00, 0x14, 0x4A, 0x02, 0x07, 3, 4, 5, 6, 3, 'A', 'B', 'C', 0, 0, 0, 0, 0, 0x21, 0x22, 0x23, 0x24}},
    {"ZRIdentifyEpcCode", [](int h) { return ZRIdentifyEpcCode(h, 1, 2, 3); }, {0x00, 0x04, 0x81, 0x01, 0x02, 0x03}},
    {"ZRIdentifyTIDCode", [](int h) { return ZRIdentifyTIDCode(h, 1, 2, 3, kPassword); },
     {0x00, 0x08, 0x82, 0x01, 0x02, 0x03, 0x11, 0x22, 0x33, 0x44}},
    // The antenna byte is the session's, whatever the call.
    {"ZRGetUseData", [](int h) { return ZRGetUseData(h, kPassword, 12, 8, 99); },
     {0x00, 0x08, 0x84, 0x02, 0x11, 0x22, 0x33, 0x44, 12, 8}},
    {"ZRStartEASAlarm", [](int h) { return ZRStartEASAlarm(h, 1); }, {0x00, 0x04, 0x8D, 0x01, 0x01, 0x00}},
};

}  // namespace

TEST(InventoryStart, SendsItsRequestAndReturnsTheSendResultWithoutWaitingOrReading) {
    for (const auto& l : kLinks)
        for (const auto& c : kStarts) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l, kUserKeys);
            rig.peer.reply_next({0x00, 0x04, c.payload[2], 0x00, 0xAA, 0xBB});
            const int expected = static_cast<int>(c.payload.size()) + (l.serial ? 0 : 2);
            EXPECT_EQ(c.call(rig.h), expected);
            ASSERT_EQ(rig.peer.requests.size(), 1u);
            EXPECT_EQ(rig.peer.requests[0], c.payload);
            EXPECT_TRUE(rig.fake.sleeps.empty());
            EXPECT_FALSE(rig.peer.incoming.empty()) << "the answer is left for the report";
        }
}

TEST(InventoryStart, IdentifyPutsTheDocumentedBytesOnTheWire) {
    for (const auto& l : kLinks) {
        Rig rig(l);
        ZRIdentify(rig.h, 1, 0);
        EXPECT_EQ(rig.peer.written, l.serial ? (Bytes{0x55, 0x00, 0x03, 0x71, 0x01, 0x00, 0xBC, 0xD7})
                                                : (Bytes{0x00, 0x03, 0x71, 0x01, 0x00, 0xBC, 0xD7}));
    }
}

TEST(InventoryStart, WithoutSessionGivesMinusOneAndSendsNothing) {
    for (const auto& l : kLinks)
        for (const auto& c : kStarts) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            EXPECT_EQ(c.call(-1), ZR_ERR_NO_SESSION);
            EXPECT_EQ(c.call(rig.h + 100), ZR_ERR_NO_SESSION);
            EXPECT_TRUE(rig.peer.written.empty());
        }
}

TEST(InventoryStart, FailedSendIsReported) {
    for (const auto& l : kLinks) {
        Rig rig(l);
        rig.peer.failing_writes = 1000;
        EXPECT_EQ(ZRIdentify(rig.h, 1, 0), 0);
    }
}

TEST(InventoryStart, RefusedArgumentsSendNothing) {
    struct Case {
        const char* name;
        std::function<int(int)> call;
        int expected;
    };
    const Case cases[] = {
        {"TID without password", [](int h) { return ZRIdentifyTIDCode(h, 1, 2, 3, nullptr); }, ZR_ERR_ARGUMENT},
        {"user data without password", [](int h) { return ZRGetUseData(h, nullptr, 0, 1, 0); }, ZR_ERR_ARGUMENT},
        {"address 15", [](int h) { return ZRGetUseData(h, kPassword, 15, 0, 0); }, ZR_ERR_ADDRESS},
        {"address 14 + 16 bytes", [](int h) { return ZRGetUseData(h, kPassword, 14, 8, 0); }, ZR_ERR_RANGE},
        {"address 0 + 30 bytes", [](int h) { return ZRGetUseData(h, kPassword, 0, 15, 0); }, ZR_ERR_RANGE},
        {"address 0x10F", [](int h) { return ZRGetUseData(h, kPassword, 0x10F, 0, 0); },
         ZR_ERR_ADDRESS},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            EXPECT_EQ(c.call(rig.h), c.expected);
            EXPECT_TRUE(rig.peer.written.empty());
            EXPECT_EQ(rig.peer.flushes, 0);
        }
}

// ---- Reports ----------------------------------------------------------------------------

namespace {

struct ReportCase {
    const char* name;
    int (*call)(int, unsigned char*);
    std::uint8_t code;
    bool long_kind;    // TCP minimum 6, any code over TCP, -8 for a reader error
    bool whole_frame;  // EPC and TID reports hand over the frame without its CRC
};

const ReportCase kReports[] = {
    {"ZRReport", ZRReport, 0x71, false, false},
    {"ZRDirectReport", ZRDirectReport, 0xD0, false, false},
    {"ZRLongReport", ZRLongReport, 0x49, true, false},
    {"ZRUserReport", ZRUserReport, 0x4A, true, false},
    {"ZREpcCodeReport", ZREpcCodeReport, 0x81, false, true},
    {"ZRTIDCodeReport", ZRTIDCodeReport, 0x82, false, true},
    {"ZRGetUseDataReport", ZRGetUseDataReport, 0x84, false, false},
};

}  // namespace

TEST(Report, CopiesTheWaitingFrameAtOnce) {
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            const Bytes frame{0x00, 0x05, c.code, 0x00, 0xAA, 0xBB, 0xCC};
            rig.peer.send(frame);
            auto buffer = fresh();
            EXPECT_EQ(c.call(rig.h, buffer.data()), ZR_OK);
            if (c.whole_frame) {
                EXPECT_EQ(head(buffer, 7), frame);
                EXPECT_EQ(buffer[7], kUntouched);
            } else {
                EXPECT_EQ(head(buffer, 4), (Bytes{0x00, 0xAA, 0xBB, 0xCC}));
                EXPECT_EQ(buffer[4], kUntouched);
            }
            EXPECT_TRUE(rig.fake.sleeps.empty());
            EXPECT_TRUE(rig.peer.written.empty()) << "a report sends nothing";
        }
}

TEST(Report, KnownFrameWithItsCrc) {
    for (const auto& l : kLinks) {
        Rig rig(l);
        const Bytes frame{0x00, 0x04, 0x71, 0x00, 0xAA, 0xBB, 0xAA, 0x67};
        if (l.serial) {
            Bytes wire{0x55};
            wire.insert(wire.end(), frame.begin(), frame.end());
            rig.peer.send_raw(wire);
        } else {
            rig.peer.send_raw(frame);
        }
        auto buffer = fresh();
        EXPECT_EQ(ZRReport(rig.h, buffer.data()), ZR_OK);
        EXPECT_EQ(head(buffer, 3), (Bytes{0x00, 0xAA, 0xBB}));
    }
}

TEST(Report, NothingWaitingGivesZeroWithinTheTransportsLimits) {
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            auto buffer = fresh();
            const auto t0 = rig.fake.now();
            EXPECT_EQ(c.call(rig.h, buffer.data()), 0);
            const auto waited = rig.fake.now() - t0;
            if (l.serial)
                EXPECT_EQ(waited, microseconds(0));
            else
                EXPECT_LE(waited, milliseconds(60));  // 30 reads of 2 ms
            EXPECT_TRUE(rig.fake.sleeps.empty());
            EXPECT_TRUE(untouched(buffer));
        }
}

TEST(Report, ReaderErrorLeavesTheBufferUntouched) {
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            rig.peer.send({0x00, 0x04, c.code, 0x01, 0x00, 0x00});
            auto buffer = fresh();
            EXPECT_EQ(c.call(rig.h, buffer.data()), c.long_kind ? ZR_ERR_REPORT_STATUS : 1001);
            EXPECT_TRUE(untouched(buffer));
        }
}

TEST(Report, ReaderErrorIsMappedByTheDeviceClass) {
    Rig rig(kLinks[0]);
    rig.peer.send({0x00, 0x04, 0x71, 0x60, 0x00, 0x00});
    auto buffer = fresh();
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), 3001);
}

TEST(Report, FrameOfAnotherCommand) {
    // Serial reports skip frames of other commands; over TCP only the long and user reports
    // take them.
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            rig.peer.send({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
            auto buffer = fresh();
            const bool taken = !l.serial && c.long_kind;
            EXPECT_EQ(c.call(rig.h, buffer.data()), taken ? ZR_OK : 0);
            EXPECT_EQ(untouched(buffer), !taken);
        }
}

TEST(Report, SerialSkipsOtherFramesToReachItsOwn) {
    for (const auto& c : kReports) {
        SCOPED_TRACE(c.name);
        Rig rig(kLinks[0]);
        rig.peer.send({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
        rig.peer.send({0x00, 0x04, c.code, 0x00, 0x12, 0x34});
        auto buffer = fresh();
        EXPECT_EQ(c.call(rig.h, buffer.data()), ZR_OK);
    }
}

TEST(Report, TcpMinimumLengths) {
    // Frame sizes 6 (status only) and 7 (one data byte): the long and user reports need 8
    // bytes over TCP; the others need 6. Over serial the size only has to reach 6.
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            for (const Bytes& frame : {Bytes{0x00, 0x02, c.code, 0x00}, Bytes{0x00, 0x03, c.code, 0x00, 0xAA}}) {
                Rig rig(l);
                rig.peer.send(frame);
                auto buffer = fresh();
                const bool taken = l.serial || !c.long_kind;
                EXPECT_EQ(c.call(rig.h, buffer.data()), taken ? ZR_OK : 0) << frame.size() + 2 << " bytes";
                if (taken && frame.size() == 5) {
                    EXPECT_EQ(buffer[c.whole_frame ? 4 : 1], 0xAA);
                }
            }
            Rig rig(l);
            rig.peer.send({0x00, 0x01, c.code});  // 5 bytes: too short everywhere
            auto buffer = fresh();
            EXPECT_EQ(c.call(rig.h, buffer.data()), 0);
            EXPECT_TRUE(untouched(buffer));
        }
}

TEST(Report, BadCrcAndGarbageAreNotTaken) {
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            Bytes bad = l.serial ? zr::sim::serial_wire({0x00, 0x04, c.code, 0x00, 1, 2})
                                   : zr::sim::with_crc({0x00, 0x04, c.code, 0x00, 1, 2});
            bad.back() ^= 0x01;
            rig.peer.send_raw(bad);
            auto buffer = fresh();
            EXPECT_EQ(c.call(rig.h, buffer.data()), 0);
            EXPECT_TRUE(untouched(buffer));
            // The link is still usable for the next frame.
            rig.peer.send({0x00, 0x04, c.code, 0x00, 1, 2});
            EXPECT_EQ(c.call(rig.h, buffer.data()), ZR_OK);
        }
}

TEST(Report, FrameArrivingInPiecesIsCompletedByALaterCall) {
    // Over TCP the receive keeps its place between calls.
    Rig rig(kLinks[1]);
    const Bytes frame = zr::sim::with_crc({0x00, 0x05, 0x71, 0x00, 0xA1, 0xA2, 0xA3});
    rig.peer.send_raw(Bytes(frame.begin(), frame.begin() + 3));
    rig.peer.send_raw(Bytes(frame.begin() + 3, frame.end()), 200);
    auto buffer = fresh();
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), 0);
    rig.fake.advance(milliseconds(200));
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), ZR_OK);
    EXPECT_EQ(head(buffer, 4), (Bytes{0x00, 0xA1, 0xA2, 0xA3}));
}

TEST(Report, RefusesNullBufferWithoutSessionOrReading) {
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            rig.peer.send({0x00, 0x04, c.code, 0x00, 1, 2});
            auto buffer = fresh();
            EXPECT_EQ(c.call(-1, buffer.data()), ZR_ERR_NO_SESSION);
            EXPECT_EQ(c.call(rig.h + 7, buffer.data()), ZR_ERR_NO_SESSION);
            EXPECT_EQ(c.call(rig.h, nullptr), ZR_ERR_ARGUMENT);
            EXPECT_TRUE(untouched(buffer));
            EXPECT_EQ(c.call(rig.h, buffer.data()), ZR_OK) << "the frame is still there";
        }
}

TEST(Report, LargestFramesFitTheDocumentedBufferSizes) {
    // 95 bytes over TCP (frames of at most 100), 251 over serial (256); EPC and TID reports
    // need 3 more.
    for (const auto& l : kLinks)
        for (const auto& c : kReports) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Rig rig(l);
            const std::size_t frame_size = l.serial ? 256 : 100;
            Bytes payload(frame_size - 2, 0x5A);
            payload[0] = 0;
            payload[1] = static_cast<std::uint8_t>(frame_size - 4);
            payload[2] = c.code;
            payload[3] = 0;
            rig.peer.send(payload);
            std::vector<unsigned char> buffer(frame_size + 16, kUntouched);
            EXPECT_EQ(c.call(rig.h, buffer.data()), ZR_OK);
            const std::size_t written = c.whole_frame ? frame_size - 2 : frame_size - 5;
            EXPECT_EQ(buffer[written - 1], 0x5A);
            EXPECT_EQ(buffer[written], kUntouched);
        }
}

TEST(Report, OversizeTcpFrameIsDroppedAndTheNextOneTaken) {
    Rig rig(kLinks[1]);
    Bytes big(120, 0x11);
    big[0] = 0;
    big[1] = 118;  // 122 bytes with the CRC
    big[2] = 0x71;
    big[3] = 0;
    rig.peer.send(big);
    auto buffer = fresh();
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), 0);
    EXPECT_TRUE(untouched(buffer));
    rig.peer.send({0x00, 0x04, 0x71, 0x00, 1, 2});
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), ZR_OK);
}

TEST(Report, PeerThatClosesMidFrameGivesZeroWithoutHanging) {
    Rig rig(kLinks[1]);
    const Bytes frame = zr::sim::with_crc({0x00, 0x05, 0x71, 0x00, 0xA1, 0xA2, 0xA3});
    rig.peer.send_raw(Bytes(frame.begin(), frame.begin() + 4));
    rig.peer.hang_up = true;
    auto buffer = fresh();
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), 0);
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), 0);
    EXPECT_TRUE(untouched(buffer));
}

TEST(Report, SerialFrameCutOffMidWayIsDropped) {
    Rig rig(kLinks[0]);
    Bytes wire = zr::sim::serial_wire({0x00, 0x05, 0x71, 0x00, 0xA1, 0xA2, 0xA3});
    rig.peer.send_raw(Bytes(wire.begin(), wire.begin() + 5));
    auto buffer = fresh();
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), 0);
    EXPECT_TRUE(untouched(buffer));
    rig.peer.send({0x00, 0x04, 0x71, 0x00, 1, 2});
    EXPECT_EQ(ZRReport(rig.h, buffer.data()), ZR_OK);
}
