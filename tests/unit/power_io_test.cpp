// Power and I/O control on the fake platform.
#include "config_support.h"

using namespace zr::test;
using namespace zr::test::config;

TEST(PowerIo, RequestsWaitsAndOutputs) {
    run_rows({
        {"PowerOn", [](int h, auto*) { return ZRPowerOn(h, 0x101); }, {0x00, 0x02, 0x60, 0x01},
         {0x00, 0x02, 0x60, 0x00}, ZR_OK, {}, {50}, {50}, 1},
        {"PowerOff", [](int h, auto*) { return ZRPowerOff(h); }, {0x00, 0x01, 0x61}, {0x00, 0x02, 0x61, 0x00}, ZR_OK,
         {}, {250}, {190}, 2},
        {"PowerSet", [](int h, auto*) { return ZRPowerSet(h, 77, 2, 0x1E, 0x00); },
         {0x00, 0x05, 0x63, 0x03, 0x02, 0x1E, 0x00}, {0x00, 0x02, 0x63, 0x00}, ZR_OK, {}, {100}, {50}, 0},
        {"PowerSet count only checked", [](int h, auto*) { return ZRPowerSet(h, 0, -9, 1, 2); },
         {0x00, 0x05, 0x63, 0x03, 0x02, 0x01, 0x02}, {0x00, 0x02, 0x63, 0x00}, ZR_OK, {}, {100}, {50}, 0},
        {"PowerSet status 20 pauses", [](int h, auto*) { return ZRPowerSet(h, 0, 2, 1, 2); },
         {0x00, 0x05, 0x63, 0x03, 0x02, 0x01, 0x02}, {0x00, 0x02, 0x63, 0x20}, 2001, {}, {100, 50}, {50, 50}, 0},
        {"PowerQuery", [](int h, auto* out) { return ZRPowerQuery(h, 0, 2, out); }, {0x00, 0x03, 0x62, 0x03, 0x00},
         {0x00, 0x04, 0x62, 0x00, 0x1E, 0x14}, ZR_OK, {0x1E, 0x14}, {500}, {500}, 0},
        {"PowerQuery of 0 bytes", [](int h, auto* out) { return ZRPowerQuery(h, 0, 0, out); },
         {0x00, 0x03, 0x62, 0x03, 0x00}, {0x00, 0x04, 0x62, 0x00, 0x1E, 0x14}, ZR_OK, {}, {500}, {500}, 0},
        {"PowerQuery of -3 bytes", [](int h, auto* out) { return ZRPowerQuery(h, 0, -3, out); },
         {0x00, 0x03, 0x62, 0x03, 0x00}, {0x00, 0x04, 0x62, 0x00, 0x1E, 0x14}, ZR_OK, {}, {500}, {500}, 0},
        {"PowerQuery past the data gives zeros", [](int h, auto* out) { return ZRPowerQuery(h, 0, 4, out); },
         {0x00, 0x03, 0x62, 0x03, 0x00}, {0x00, 0x04, 0x62, 0x00, 0x1E, 0x14}, ZR_OK, {0x1E, 0x14, 0, 0}, {500},
         {500}, 0},
        {"IOControlSet", [](int h, auto*) { return ZRIOControlSet(h, 2, 1); }, {0x00, 0x03, 0xD1, 0x02, 0x01},
         {0x00, 0x02, 0xD1, 0x00}, ZR_OK, {}, {100}, {50}, 0},
        {"IOControlSet status 20 pauses", [](int h, auto*) { return ZRIOControlSet(h, 2, 1); },
         {0x00, 0x03, 0xD1, 0x02, 0x01}, {0x00, 0x02, 0xD1, 0x20}, 2001, {}, {100, 50}, {50, 50}, 0},
        {"IOControlQuery delivers nothing", [](int h, auto*) { return ZRIOControlQuery(h, 2, 0); },
         {0x00, 0x02, 0xD2, 0x02}, {0x00, 0x03, 0xD2, 0x00, 0x01}, ZR_OK, {}, {500}, {500}, 0},
    });
}

TEST(PowerIo, PowerOffPollsUntilItsReplyComes) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        {
            Session s(l);
            s.peer.reply_next({0x00, 0x02, 0x61, 0x00}, 700);  // arrives during the third pause
            EXPECT_EQ(ZRPowerOff(s.h), ZR_OK);
            EXPECT_EQ(s.fake.sleeps, std::vector<int>(3, l.serial ? 250 : 190));
        }
        {
            Session s(l);
            s.peer.silent_next();
            EXPECT_EQ(ZRPowerOff(s.h), ZR_ERR_NO_REPLY);
            EXPECT_EQ(s.fake.sleeps, std::vector<int>(10, l.serial ? 250 : 190));
            EXPECT_EQ(s.peer.requests.size(), 1u);  // never sent twice
        }
    }
}

TEST(PowerIo, StatusOnlyRepliesAreEnoughOnBothLinks) {
    // These commands take 6-byte replies over TCP too.
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Session s(l);
        s.peer.reply_next({0x00, 0x02, 0x62, 0x05});
        std::uint8_t buffer[2] = {kUnset, kUnset};
        EXPECT_EQ(ZRPowerQuery(s.h, 0, 2, buffer), 1005);
        EXPECT_EQ(buffer[0], kUnset);
        s.peer.reply_next({0x00, 0x02, 0xD2, 0x60});
        EXPECT_EQ(ZRIOControlQuery(s.h, 1, 0), 3001);
    }
}
