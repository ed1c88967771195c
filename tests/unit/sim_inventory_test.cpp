// The reader model's inventory unit and the tag population parser, plus the library's
// inventory calls against the model on the fake platform.
#include <gtest/gtest.h>

#include <array>

#include "fake_platform.h"
#include "model.h"
#include "population.h"
#include "units/inventory.h"
#include "zr.h"

using zr::sim::Bytes;
using zr::sim::ReaderModel;
using namespace std::chrono_literals;

namespace {

Bytes request(std::uint8_t code, const Bytes& params) {
    Bytes p{0x00, static_cast<std::uint8_t>(params.size() + 1), code};
    p.insert(p.end(), params.begin(), params.end());
    return p;
}
Bytes data_of(const Bytes& reply) { return Bytes(reply.begin() + 4, reply.end()); }
Bytes epc_of(int n) { return {0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(n)}; }
Bytes id_of(int n) { return {0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, static_cast<std::uint8_t>(n)}; }
Bytes join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct InventoryCase {
    const char* name;
    std::uint8_t code;
    Bytes params;
    Bytes (*data)(int tag);  // report data of tag n (1-based)
};

const InventoryCase kInventories[] = {
    {"identify", 0x71, {0x01, 0x00}, [](int n) { return join({0x01}, id_of(n)); }},
    {"direct read", 0xD0, {0x01, 0x00}, [](int n) { return join({0x01}, epc_of(n)); }},
    {"long identify", 0x49, {0x01, 0x00, 0x00}, [](int n) { return join(join({0x01}, id_of(n)), epc_of(n)); }},
    {"user identify, no match data", 0x4A, Bytes(19, 0x00) , [](int n) { return join({0x00}, epc_of(n)); }},
    {"EPC", 0x81, {0x01, 0x00, 0x00}, epc_of},
    {"TID", 0x82, {0x01, 0x00, 0x00, 0, 0, 0, 0},
     [](int n) { return Bytes{0xE2, 0x80, 0x11, 0x05, 0x20, 0x00, 0x70, static_cast<std::uint8_t>(n)}; }},
};

}  // namespace

TEST(SimInventory, EveryTagInTheFieldReportsOnce) {
    for (const auto& c : kInventories) {
        SCOPED_TRACE(c.name);
        ReaderModel m;
        auto replies = m.handle(request(c.code, c.params));
        ASSERT_EQ(replies.size(), 3u);
        for (int n = 1; n <= 3; ++n) {
            const auto& r = replies[static_cast<std::size_t>(n - 1)];
            EXPECT_EQ(r[2], c.code);
            EXPECT_EQ(r[3], 0x00);
            EXPECT_EQ(r[0] * 256 + r[1] + 2u, r.size());
            EXPECT_EQ(data_of(r), c.data(n));
        }
    }
}

TEST(SimInventory, KilledAndUnselectedTagsDoNotAnswer) {
    for (const auto& c : kInventories) {
        SCOPED_TRACE(c.name);
        ReaderModel m;
        m.tags[0].killed = true;
        EXPECT_EQ(m.handle(request(c.code, c.params)).size(), 2u);
        m.selection.active = true;
        m.selection.by_epc = true;
        m.selection.match = epc_of(3);
        auto replies = m.handle(request(c.code, c.params));
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(data_of(replies[0]), c.data(3));
    }
}

TEST(SimInventory, EmptyFieldGivesOneNoTagFrameThatTcpReportsCanSee) {
    for (const auto& c : kInventories)
        for (int device_class : {3, 1}) {
            SCOPED_TRACE(std::string(c.name) + " class " + std::to_string(device_class));
            ReaderModel m;
            m.device_class = device_class;
            m.tags.clear();
            auto replies = m.handle(request(c.code, c.params));
            ASSERT_EQ(replies.size(), 1u);
            EXPECT_EQ(replies[0][3], device_class == 3 ? 0x61 : 0x91);
            EXPECT_EQ(replies[0].size(), 6u) << "8 bytes with the CRC";
        }
}

TEST(SimInventory, UserIdentifyFiltersByTheSpecialMatchData) {
    ReaderModel m;
    Bytes params(19, 0x00);
    params[0] = 0x02;
    params[5] = 11;  // address: the last EPC byte
    params[6] = 1;   // length
    params[7] = 0x02;
    auto replies = m.handle(request(0x4A, params));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(data_of(replies[0]), join({0x02}, epc_of(2)));
    params[5] = 12;  // beyond every EPC
    replies = m.handle(request(0x4A, params));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_NE(replies[0][3], 0x00);
}

TEST(SimInventory, TidInventoryAnswersOnlyTagsThatTakeThePassword) {
    ReaderModel m;
    for (auto& t : m.tags) t.visit_password = {1, 2, 3, 4};
    m.tags[1].visit_password = {9, 9, 9, 9};
    EXPECT_EQ(m.handle(request(0x82, {1, 0, 0, 1, 2, 3, 4})).size(), 2u);
    auto replies = m.handle(request(0x82, {1, 0, 0, 5, 5, 5, 5}));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0][3], 0x62);
}

TEST(SimInventory, WordReads) {
    struct Case {
        const char* name;
        Bytes params;
        std::uint8_t status;
        Bytes data;
    };
    ReaderModel probe;
    const auto& user = probe.tags[0].user;  // 64 bytes: 32 words
    const Case cases[] = {
        {"two words at word 1", {1, 0, 0, 0, 0, 1, 2}, 0x00, {2, user[2], user[3], user[4], user[5]}},
        {"the last word", {1, 0, 0, 0, 0, 31, 1}, 0x00, {1, user[62], user[63]}},
        {"beyond memory", {1, 0, 0, 0, 0, 31, 2}, 0x64, {}},
        {"wrong password", {1, 9, 9, 9, 9, 0, 1}, 0x62, {}},
        {"short request", {1, 0, 0, 0, 0, 1}, 0x02, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReaderModel m;
        m.tags[0].visit_password = {0, 0, 0, 0};
        if (std::string(c.name) == "wrong password") m.tags[0].visit_password = {1, 1, 1, 1};
        auto replies = m.handle(request(0x84, c.params));
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0][3], c.status);
        EXPECT_EQ(data_of(replies[0]), c.data);
    }
    ReaderModel empty;
    empty.tags.clear();
    EXPECT_EQ(empty.handle(request(0x84, {1, 0, 0, 0, 0, 0, 1}))[0][3], 0x61);
}

TEST(SimInventory, AlarmFramesWhileTheModeIsOnAndAFlaggedTagIsThere) {
    ReaderModel m;
    auto& unit = m.unit<zr::sim::InventoryUnit>();
    // No flagged tag: the mode is on, but nothing sounds.
    EXPECT_TRUE(m.handle(request(0x8D, {0x01, 0x01, 0x00})).empty()) << "the start is not answered";
    EXPECT_TRUE(m.unsolicited(0ms).empty());
    auto flagged = m.handle(request(0x8C, {0x01, 0, 0, 0, 0, 0x01}));
    ASSERT_EQ(flagged.size(), 1u);
    EXPECT_EQ(flagged[0], (Bytes{0x00, 0x02, 0x8C, 0x00}));
    EXPECT_TRUE(m.tags[0].eas);

    auto alarms = m.unsolicited(100ms);
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0], join({0x00, 0x0F, 0x8D, 0x00, 0x01}, epc_of(1)));
    EXPECT_TRUE(m.unsolicited(150ms).empty());
    EXPECT_EQ(m.unsolicited(200ms).size(), 1u);
    m.tags[0].killed = true;
    EXPECT_TRUE(m.unsolicited(300ms).empty());
    m.tags[0].killed = false;

    auto end = m.handle(request(0x8D, {0x01, 0x00, 0x00}));
    ASSERT_EQ(end.size(), 1u);
    EXPECT_EQ(end[0], (Bytes{0x00, 0x02, 0x8D, 0x00}));
    EXPECT_FALSE(unit.alarm_on);
    EXPECT_TRUE(m.unsolicited(1000ms).empty());
    EXPECT_EQ(m.handle(request(0x8D, {0x01, 0x07, 0x00}))[0][3], 0x02);
}

TEST(SimInventory, EasFlagNeedsTheVisitPassword) {
    ReaderModel m;
    m.tags[0].visit_password = {1, 2, 3, 4};
    EXPECT_EQ(m.handle(request(0x8C, {0x01, 9, 9, 9, 9, 0x01}))[0][3], 0x62);
    EXPECT_FALSE(m.tags[0].eas);
    EXPECT_EQ(m.handle(request(0x8C, {0x01, 1, 2, 3, 4, 0x01}))[0][3], 0x00);
    EXPECT_TRUE(m.tags[0].eas);
}

TEST(SimInventory, ListenFrameAndItsAcknowledgement) {
    ReaderModel m;
    auto& unit = m.unit<zr::sim::InventoryUnit>();
    unit.push_listen_frame(m);
    auto pushed = m.unsolicited(0ms);
    ASSERT_EQ(pushed.size(), 1u);
    const Bytes& f = pushed[0];
    ASSERT_EQ(f.size() + 2, 28u) << "the library's TCP receive needs 28 bytes";
    EXPECT_EQ(f[0] * 256 + f[1] + 2u, f.size());
    EXPECT_EQ(f[2], 0xA1);
    EXPECT_EQ(Bytes(f.begin() + 3, f.begin() + 11), id_of(1));
    EXPECT_EQ(Bytes(f.begin() + 11, f.begin() + 23), epc_of(1));

    Bytes good{0x00};
    good.insert(good.end(), f.begin() + 3, f.begin() + 11);
    good.push_back(f[12]);
    EXPECT_TRUE(m.handle(request(0xA1, good)).empty()) << "an acknowledgement is not answered";
    Bytes wrong = good;
    wrong[3] ^= 0xFF;
    m.handle(request(0xA1, wrong));
    m.handle(request(0xA1, {0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(unit.acks_ok, 1);
    EXPECT_EQ(unit.acks_wrong, 1);
    EXPECT_EQ(unit.acks_refused, 1);

    unit.listen_period_ms = 100;
    EXPECT_EQ(m.unsolicited(1000ms).size(), 1u);
    EXPECT_TRUE(m.unsolicited(1050ms).empty());
    auto next = m.unsolicited(1100ms);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_NE(next[0], f) << "the sequence number moves on";
}

TEST(SimInventory, DataReturnAndCodeSendingRepliesReachTheTcpMinimum) {
    ReaderModel m;
    auto& unit = m.unit<zr::sim::InventoryUnit>();
    auto r = m.handle(request(0x68, {0x01, 0x03}));
    EXPECT_EQ(r.at(0), (Bytes{0x00, 0x04, 0x68, 0x00, 0x01, 0x03}));
    EXPECT_EQ(unit.data_return_option, 3);
    EXPECT_EQ(m.handle(request(0x68, {0x01, 0x05})).at(0).size(), 6u);
    r = m.handle(request(0x5F, {0x10, 0x20, 0x30}));
    EXPECT_EQ(r.at(0), (Bytes{0x00, 0x04, 0x5F, 0x00, 0x00, 0x03}));
    EXPECT_EQ(unit.code_sendings, 1);
    EXPECT_EQ(unit.last_code, (Bytes{0x10, 0x20, 0x30}));
}

// ---- Population -------------------------------------------------------------------------

TEST(Population, TextWithDefaultsForKeysLeftOut) {
    std::vector<zr::sim::Tag> tags;
    std::string error;
    const std::string text =
        "# two tags\n"
        "\n"
        "id=01:02:03:04:05:06:07:08 epc=AABBCCDD tid=E280 user=0011 visit=01020304 eas=1  # first\n"
        "epc=1122\n";
    ASSERT_TRUE(zr::sim::parse_population(text, tags, error)) << error;
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(Bytes(tags[0].id.begin(), tags[0].id.end()), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(tags[0].epc, (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
    EXPECT_EQ(tags[0].tid, (Bytes{0xE2, 0x80}));
    EXPECT_EQ(tags[0].user, (Bytes{0x00, 0x11}));
    EXPECT_EQ(tags[0].visit_password, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
    EXPECT_TRUE(tags[0].eas);
    EXPECT_FALSE(tags[0].killed);
    // The second tag keeps the default pattern of place 2.
    const auto defaults = ReaderModel::default_tags();
    EXPECT_EQ(tags[1].id, defaults[1].id);
    EXPECT_EQ(tags[1].tid, defaults[1].tid);
    EXPECT_EQ(tags[1].epc, (Bytes{0x11, 0x22}));
    EXPECT_EQ(zr::sim::default_tag(5).id.back(), 6);
}

TEST(Population, BadInputIsRefusedWithTheReason) {
    const struct {
        const char* text;
        const char* reason;
    } bad[] = {
        {"id=0102", "line 1: tag 1, 'id=0102': an identifier has 8 bytes, not 2"},
        {"epc=ABC", "epc is not hex"},
        {"epc=AABBCC", "an EPC is 1 to 31 words (2 to 62 bytes, an even number), not 3 bytes"},
        {"visit=01", "a password has 4 bytes, not 1"},
        {"eas=2", "eas is 0 or 1"},
        {"colour=red", "unknown key 'colour'"},
        {"colour=0102", "unknown key 'colour'"},
        {"epc", "expected KEY=VALUE"},
        {"user=001", "user is not hex"},
        {"tid=", "tid has no value"},
        {"killed=yes", "killed is 0 or 1"},
        {"# first\nid=E200341201020301\nepc=12 34 5", "line 3: tag 2, 'epc=12': "},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.text);
        std::vector<zr::sim::Tag> tags;
        std::string error;
        EXPECT_FALSE(zr::sim::parse_population(c.text, tags, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(tags.empty());
    }
}

// ---- The library against the model ------------------------------------------------------

using namespace zr::test;

TEST(InventoryAgainstModel, EpcInventoryAndWordReadOnBothLinks) {
    for (const char* type : {"COM", "TCP"}) {
        SCOPED_TRACE(type);
        FakePlatform fake;
        ReaderModel model;
        const bool serial = std::string(type) == "COM";
        auto& peer = serial ? fake.serial("COM4") : fake.tcp("192.0.2.9");
        peer.model = &model;
        int h;
        ASSERT_EQ(open_fake(fake, type, serial ? "COM4" : "192.0.2.9", h), ZR_OK);

        EXPECT_GT(ZRIdentifyEpcCode(h, 1, 0, 0), 0);
        std::array<unsigned char, 256> buffer{};
        for (int n = 1; n <= 3; ++n) {
            ASSERT_EQ(ZREpcCodeReport(h, buffer.data()), ZR_OK);
            EXPECT_EQ(Bytes(buffer.begin() + 4, buffer.begin() + 16), epc_of(n));
        }
        EXPECT_EQ(ZREpcCodeReport(h, buffer.data()), 0);

        const unsigned char password[4] = {0, 0, 0, 0};
        EXPECT_GT(ZRGetUseData(h, password, 2, 3, 0), 0);
        ASSERT_EQ(ZRGetUseDataReport(h, buffer.data()), ZR_OK);
        const auto& user = model.tags[0].user;
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8),
                  (Bytes{0x00, 3, user[4], user[5], user[6], user[7], user[8], user[9]}));

        // Reports left uncollected do not spoil the next exchange.
        EXPECT_GT(ZRIdentify(h, 1, 0), 0);
        EXPECT_EQ(ZRDataReturn(h, 1, 2), ZR_OK);
        EXPECT_EQ(ZRReport(h, buffer.data()), 0);
    }
}
