// Tag memory, selection, passwords, locks and kill on the fake platform: the bytes of every
// request, the waits, the receive loops, and what each function gives for every kind of reply.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {



const unsigned char kId[8] = {0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, 0x04};
const unsigned char kPwd[4] = {0x11, 0x22, 0x33, 0x44};
const unsigned char kNewPwd[4] = {0xA1, 0xB2, 0xC3, 0xD4};
const unsigned char kData[256] = {0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7};

constexpr unsigned char kUntouched = 0xEE;
using Buffer = std::vector<unsigned char>;
Buffer fresh_buffer() { return Buffer(300, kUntouched); }
bool untouched(const Buffer& b) {
    for (auto c : b)
        if (c != kUntouched) return false;
    return true;
}

Bytes cat(Bytes a, const unsigned char* p, std::size_t n, Bytes tail = {}) {
    a.insert(a.end(), p, p + n);
    a.insert(a.end(), tail.begin(), tail.end());
    return a;
}
Bytes status_reply(std::uint8_t code, std::uint8_t status = 0) { return {0x00, 0x02, code, status}; }

// One row per function: the call, the request it must send, a good reply and what it gives.
struct Row {
    const char* name;
    std::function<int(int handle, unsigned char* out)> call;
    Bytes request;
    Bytes reply;              // status 0, as the reader sends it
    Bytes output;             // what lands in the caller's buffer on success (empty: none)
    std::vector<int> sleeps;  // waits of a call answered at once
    bool flushes;             // flushes the port before sending
    int unanswered_serial;    // result when no reply comes
    int unanswered_tcp;
    int answer_waits;         // waits of a call that gets no reply
};

std::vector<Row> rows() {
    return {
        {"ZRReadUserData",
         [](int h, unsigned char* out) { return ZRReadUserData(h, 0x301, 0x10, 4, kId, out); },
         cat({0x00, 0x0C, 0x72, 0x01}, kId, 8, {0x10, 0x04}),
         {0x00, 0x07, 0x72, 0x00, 0x04, 0xA0, 0xA1, 0xA2, 0xA3},
         {0xA0, 0xA1, 0xA2, 0xA3},
         {50},
         true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 6},
        {"ZRWriteUserData",
         [](int h, unsigned char*) { return ZRWriteUserData(h, 0x02, 0x120, kId, kData, 3); },
         cat(cat({0x00, 0x0F, 0x73, 0x02}, kId, 8, {0x20, 0x03}), kData, 3),
         status_reply(0x73), {}, {500}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
        {"ZRSetEpcCode",
         [](int h, unsigned char*) { return ZRSetEpcCode(h, 0x03, kPwd, 4, 2, kData); },
         cat(cat({0x00, 0x0B, 0x83, 0x03}, kPwd, 4, {0x02}), kData, 4),
         status_reply(0x83), {}, {500}, true,
         13, 15,  // sent, not confirmed: payload bytes written (serial), frame length (TCP)
         1},
        {"ZRReadUserDataEPC",  // antenna fifth in the call, first in the request
         [](int h, unsigned char* out) { return ZRReadUserDataEPC(h, kPwd, 0x06, 2, 0x04, out); },
         cat({0x00, 0x08, 0x84, 0x04}, kPwd, 4, {0x06, 0x02}),
         {0x00, 0x07, 0x84, 0x00, 0x02, 0xB0, 0xB1, 0xB2, 0xB3},
         {0x00, 0x07, 0x84, 0x00, 0x02, 0xB0, 0xB1, 0xB2, 0xB3},
         {50},
         true, 0, 0, 6},
        {"ZRSetUseData",
         [](int h, unsigned char*) { return ZRSetUseData(h, 0x05, kPwd, 0x07, 1, kData); },
         cat(cat({0x00, 0x0A, 0x85, 0x05}, kPwd, 4, {0x07, 0x01}), kData, 2),
         status_reply(0x85), {}, {500}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
        {"ZRSelectTag",
         [](int h, unsigned char*) { return ZRSelectTag(h, 0x06, 0x01, 0x202, kId); },
         cat({0x00, 0x0C, 0x70, 0x06, 0x01, 0x02}, kId, 8),
         status_reply(0x70), {}, {50}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
        {"ZRSelectTagEPC",
         [](int h, unsigned char*) { return ZRSelectTagEPC(h, 0x07, 0x01, 0x00, kData, 3); },
         cat({0x00, 0x07, 0x80, 0x07, 0x01, 0x00}, kData, 3),
         status_reply(0x80), {}, {50}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
        {"ZRLockUserData",  // address before antenna in the call, after the identifier in the request
         [](int h, unsigned char*) { return ZRLockUserData(h, 0x30, 0x08, kId, 0x10); },
         cat({0x00, 0x0C, 0x74, 0x08}, kId, 8, {0x30, 0x10}),
         status_reply(0x74), {}, {50}, false, ZR_ERR_RANGE, ZR_ERR_RANGE,
         2},  // ZR_READ_TRIES absent reads as 0, which becomes 2
        {"ZRSetVisitPWD",
         [](int h, unsigned char*) { return ZRSetVisitPWD(h, 0x09, kPwd, kNewPwd); },
         cat(cat({0x00, 0x0A, 0x88, 0x09}, kPwd, 4), kNewPwd, 4),
         status_reply(0x88), {}, {50}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
        {"ZRSetDestroyPWD",
         [](int h, unsigned char*) { return ZRSetDestroyPWD(h, 0x0A, kPwd, kNewPwd); },
         cat(cat({0x00, 0x0A, 0x89, 0x0A}, kPwd, 4), kNewPwd, 4),
         status_reply(0x89), {}, {50}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
        {"ZRSetDataLocked",
         [](int h, unsigned char*) { return ZRSetDataLocked(h, 0x0B, kPwd, 1, 5); },
         cat({0x00, 0x08, 0x8A, 0x0B}, kPwd, 4, {0x01, 0x05}),
         status_reply(0x8A), {}, {200}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
        {"ZRSetDestroyTag",  // the word count is not sent
         [](int h, unsigned char*) { return ZRSetDestroyTag(h, 0x0C, kPwd, 2, kData); },
         cat(cat({0x00, 0x0A, 0x8B, 0x0C}, kPwd, 4), kData, 4),
         status_reply(0x8B), {}, {50}, true, ZR_ERR_NO_REPLY, ZR_ERR_NO_REPLY, 1},
    };
}

// A session on a fresh fake peer, for one link and one row.
struct Session {
    explicit Session(const LinkCase& l, const std::string& extra = "") : peer(peer_of(fake, l)) {
        EXPECT_EQ(open_fake(fake, l.type, l.name, handle, extra), ZR_OK);
        fake.sleeps.clear();
    }
    // After a failure, the next exchange must still work.
    void expect_usable() {
        peer.reply_next({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
        EXPECT_EQ(ZRReset(handle), ZR_OK) << "link unusable afterwards";
    }
    FakePlatform fake;
    Peer& peer;
    int handle = -1;
};

std::vector<int> waits(int n, int ms) { return std::vector<int>(static_cast<std::size_t>(n), ms); }

}  // namespace

TEST(TagCommands, SendTheirRequestWaitAndDeliverTheReply) {
    for (const auto& l : kLinks)
        for (const auto& row : rows()) {
            SCOPED_TRACE(std::string(l.type) + " " + row.name);
            Session s(l);
            s.peer.reply_next(row.reply);
            auto out = fresh_buffer();
            EXPECT_EQ(row.call(s.handle, out.data()), ZR_OK);
            ASSERT_EQ(s.peer.requests.size(), 1u);
            EXPECT_EQ(s.peer.requests[0], row.request);
            EXPECT_EQ(s.fake.sleeps, row.sleeps);
            EXPECT_EQ(Buffer(out.begin(), out.begin() + static_cast<long>(row.output.size())), Buffer(row.output.begin(), row.output.end()));
            EXPECT_TRUE(untouched(Buffer(out.begin() + static_cast<long>(row.output.size()), out.end())));
            if (l.serial) {
                // Every byte written is preceded by a flush; a command's own flush comes on top.
                EXPECT_EQ(static_cast<std::size_t>(s.peer.flushes), s.peer.written.size() + (row.flushes ? 1 : 0));
            }
        }
}

TEST(TagCommands, WithoutAReplyEachGivesItsOwnResultAfterItsWaits) {
    for (const auto& l : kLinks)
        for (const auto& row : rows()) {
            SCOPED_TRACE(std::string(l.type) + " " + row.name);
            Session s(l);
            s.peer.silent_next();
            auto out = fresh_buffer();
            EXPECT_EQ(row.call(s.handle, out.data()), l.serial ? row.unanswered_serial : row.unanswered_tcp);
            EXPECT_EQ(s.peer.requests.size(), 1u);
            EXPECT_EQ(s.fake.sleeps, waits(row.answer_waits, row.sleeps[0]));
            EXPECT_TRUE(untouched(out));
            s.expect_usable();
        }
}

TEST(TagCommands, NonZeroStatusIsMappedAndNothingIsCopied) {
    for (const auto& l : kLinks)
        for (const auto& row : rows()) {
            SCOPED_TRACE(std::string(l.type) + " " + row.name);
            Session s(l);
            const std::uint8_t code = row.request[2];
            s.peer.reply_next(status_reply(code, 0x01));
            auto out = fresh_buffer();
            EXPECT_EQ(row.call(s.handle, out.data()), 1001);
            EXPECT_TRUE(untouched(out));
            s.peer.reply_next(status_reply(code, 0x63));
            EXPECT_EQ(row.call(s.handle, out.data()), 3004);
            EXPECT_TRUE(untouched(out));
        }
}

TEST(TagCommands, BadRepliesGiveTheUnansweredResultTouchNothingAndLeaveTheLinkUsable) {
    struct Kind {
        const char* name;
        std::function<void(Peer&, const Row&)> script;
        bool tcp_keeps_framing;  // a TCP stream that lost its framing needs a reconnect
    };
    const Kind kinds[] = {
        {"reply of another command",
         [](Peer& p, const Row& r) {
             Bytes other = r.reply;
             other[2] = static_cast<std::uint8_t>(other[2] + 1);
             p.reply_next(other);
         },
         true},
        {"wrong CRC",
         [](Peer& p, const Row& r) {
             Bytes wire = p.serial ? zr::sim::serial_wire(r.reply) : zr::sim::with_crc(r.reply);
             wire.back() ^= 0x01;
             p.reply_next_raw(wire);
         },
         true},
        {"truncated",
         [](Peer& p, const Row& r) {
             Bytes wire = p.serial ? zr::sim::serial_wire(r.reply) : zr::sim::with_crc(r.reply);
             wire.resize(wire.size() - 3);
             p.reply_next_raw(wire);
         },
         false},
        {"length field beyond any frame",
         [](Peer& p, const Row& r) {
             Bytes wire = p.serial ? zr::sim::serial_wire(r.reply) : zr::sim::with_crc(r.reply);
             wire[p.serial ? 1 : 0] = 0x01;  // LEN + 256
             p.reply_next_raw(wire);
         },
         false},
        {"garbage only", [](Peer& p, const Row&) { p.reply_next_raw({0x13, 0x37, 0x00, 0x07, 0x42}); }, false},
    };
    for (const auto& l : kLinks)
        for (const auto& kind : kinds)
            for (const auto& row : rows()) {
                SCOPED_TRACE(std::string(l.type) + " " + kind.name + " " + row.name);
                Session s(l);
                kind.script(s.peer, row);
                auto out = fresh_buffer();
                EXPECT_EQ(row.call(s.handle, out.data()), l.serial ? row.unanswered_serial : row.unanswered_tcp);
                EXPECT_TRUE(untouched(out));
                if (l.serial || kind.tcp_keeps_framing) s.expect_usable();
            }
}

TEST(TagCommands, ReadDataOfAnotherLengthThanAskedIsRefused) {
    struct Case {
        const char* name;
        std::function<int(int, unsigned char*)> call;
        Bytes reply;
    };
    const Case cases[] = {
        {"ZRReadUserData 4 bytes, 3 came",
         [](int h, unsigned char* o) { return ZRReadUserData(h, 1, 0, 4, kId, o); },
         {0x00, 0x06, 0x72, 0x00, 0x03, 0xA0, 0xA1, 0xA2}},
        {"ZRReadUserData 4 bytes, 5 came",
         [](int h, unsigned char* o) { return ZRReadUserData(h, 1, 0, 4, kId, o); },
         {0x00, 0x08, 0x72, 0x00, 0x05, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}},
        {"ZRReadUserData 0 bytes, 1 came",
         [](int h, unsigned char* o) { return ZRReadUserData(h, 1, 0, 0, kId, o); },
         {0x00, 0x04, 0x72, 0x00, 0x01}},
        {"ZRReadUserData status 0 without data",
         [](int h, unsigned char* o) { return ZRReadUserData(h, 1, 0, 4, kId, o); },
         {0x00, 0x02, 0x72, 0x00}},
        {"ZRReadUserDataEPC 2 words, 1 came",
         [](int h, unsigned char* o) { return ZRReadUserDataEPC(h, kPwd, 0, 2, 1, o); },
         {0x00, 0x05, 0x84, 0x00, 0x01, 0xB0, 0xB1}},
        {"ZRReadUserDataEPC 2 words, 3 came",
         [](int h, unsigned char* o) { return ZRReadUserDataEPC(h, kPwd, 0, 2, 1, o); },
         {0x00, 0x09, 0x84, 0x00, 0x03, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5}},
        {"ZRReadUserDataEPC 2 words, an odd byte more",
         [](int h, unsigned char* o) { return ZRReadUserDataEPC(h, kPwd, 0, 2, 1, o); },
         {0x00, 0x08, 0x84, 0x00, 0x02, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4}},
        {"ZRSetDestroyTag status reply with one byte more",
         [](int h, unsigned char*) { return ZRSetDestroyTag(h, 1, kPwd, 1, kData); },
         {0x00, 0x03, 0x8B, 0x00, 0x00}},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Session s(l);
            s.peer.reply_next(c.reply);
            auto out = fresh_buffer();
            EXPECT_EQ(c.call(s.handle, out.data()), ZR_ERR_NO_REPLY);
            EXPECT_TRUE(untouched(out));
            EXPECT_EQ(s.peer.requests.size(), 1u);
        }
}

TEST(TagCommands, ZeroLengthReadsAndWritesAreWellFormed) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Session s(l);
        s.peer.reply_next({0x00, 0x03, 0x72, 0x00, 0x00});
        auto out = fresh_buffer();
        EXPECT_EQ(ZRReadUserData(s.handle, 1, 0, 0, kId, out.data()), ZR_OK);
        EXPECT_TRUE(untouched(out));
        s.peer.reply_next(status_reply(0x73));
        EXPECT_EQ(ZRWriteUserData(s.handle, 1, 0, kId, kData, 0), ZR_OK);
        EXPECT_EQ(s.peer.requests[1], cat({0x00, 0x0C, 0x73, 0x01}, kId, 8, {0x00, 0x00}));
        s.peer.reply_next(status_reply(0x80));
        EXPECT_EQ(ZRSelectTagEPC(s.handle, 2, 3, 4, kData, 0), ZR_OK);
        EXPECT_EQ(s.peer.requests[2], (Bytes{0x00, 0x04, 0x80, 0x02, 0x03, 0x04}));
        s.peer.reply_next({0x00, 0x03, 0x84, 0x00, 0x00});
        EXPECT_EQ(ZRReadUserDataEPC(s.handle, kPwd, 0, 0, 1, out.data()), ZR_OK);
        EXPECT_EQ(Buffer(out.begin(), out.begin() + 6), (Buffer{0x00, 0x03, 0x84, 0x00, 0x00, kUntouched}));
    }
}

TEST(TagCommands, ReadLoopsTakeAReplyOnTheirLastAttemptButMakeNoMore) {
    // When the reply comes due: serial reads at each 50 ms wait; a TCP receive also spends
    // 30 reads of 2 ms, so its attempt n ends 110 * n ms after the send.
    auto due_in_attempt = [](const LinkCase& l, int n) { return l.serial ? 50 * n - 10 : 110 * n - 30; };
    struct Case {
        const char* name;
        std::function<int(int, unsigned char*)> call;
        Bytes reply;
        const char* extra_keys;
        int attempts;
        int too_late;  // result when the reply comes after the last attempt
    };
    const Case cases[] = {
        {"ZRReadUserData", [](int h, unsigned char* o) { return ZRReadUserData(h, 1, 0, 2, kId, o); },
         {0x00, 0x05, 0x72, 0x00, 0x02, 0xA0, 0xA1}, "", 6, ZR_ERR_NO_REPLY},
        {"ZRReadUserDataEPC", [](int h, unsigned char* o) { return ZRReadUserDataEPC(h, kPwd, 0, 1, 1, o); },
         {0x00, 0x05, 0x84, 0x00, 0x01, 0xB0, 0xB1}, "", 6, 0},
        {"ZRLockUserData with 4 read tries", [](int h, unsigned char*) { return ZRLockUserData(h, 0, 1, kId, 8); },
         status_reply(0x74), "ZR_READ_TRIES=4\n", 4, ZR_ERR_RANGE},
        {"ZRLockUserData with read tries 1 (taken as 2)",
         [](int h, unsigned char*) { return ZRLockUserData(h, 0, 1, kId, 8); }, status_reply(0x74),
         "ZR_READ_TRIES=1\n", 2, ZR_ERR_RANGE},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            {
                Session s(l, c.extra_keys);
                s.peer.reply_next(c.reply, due_in_attempt(l, c.attempts));
                auto out = fresh_buffer();
                EXPECT_EQ(c.call(s.handle, out.data()), ZR_OK);
                EXPECT_EQ(s.fake.sleeps, waits(c.attempts, 50));
                if (c.reply.size() > 4) {
                    EXPECT_FALSE(untouched(out));
                }
                EXPECT_EQ(s.peer.requests.size(), 1u);  // the request is sent once
            }
            {
                Session s(l, c.extra_keys);
                s.peer.reply_next(c.reply, due_in_attempt(l, c.attempts + 1));
                auto out = fresh_buffer();
                EXPECT_EQ(c.call(s.handle, out.data()), c.too_late);
                EXPECT_EQ(s.fake.sleeps, waits(c.attempts, 50));
                EXPECT_TRUE(untouched(out));
            }
        }
}

TEST(TagCommands, TcpReadLoopSkipsRepliesOfOtherCommandsUntilItsOwnComes) {
    // Over TCP nothing filters by command code: each stray frame uses up one attempt.
    Session s(kLinks[1]);
    s.peer.reply_next({0x00, 0x02, 0x71, 0x00});
    s.peer.send({0x00, 0x02, 0x68, 0x00}, 120);
    s.peer.send({0x00, 0x05, 0x72, 0x00, 0x02, 0xA0, 0xA1}, 230);
    auto out = fresh_buffer();
    EXPECT_EQ(ZRReadUserData(s.handle, 1, 0, 2, kId, out.data()), ZR_OK);
    EXPECT_EQ(s.fake.sleeps, waits(3, 50));
    EXPECT_EQ(Buffer(out.begin(), out.begin() + 3), (Buffer{0xA0, 0xA1, kUntouched}));
}

TEST(TagCommands, ArgumentsAreRefusedBeforeAnythingIsFlushedOrSent) {
    struct Case {
        const char* name;
        std::function<int(int, unsigned char*)> call;
        int expected;
    };
    const int kArg = ZR_ERR_ARGUMENT;
    const Case cases[] = {
        {"ZRReadUserData tagId NULL", [](int h, unsigned char* o) { return ZRReadUserData(h, 1, 0, 4, nullptr, o); }, kArg},
        {"ZRReadUserData buffer NULL", [](int h, unsigned char*) { return ZRReadUserData(h, 1, 0, 4, kId, nullptr); }, kArg},
        {"ZRWriteUserData tagId NULL", [](int h, unsigned char*) { return ZRWriteUserData(h, 1, 0, nullptr, kData, 1); }, kArg},
        {"ZRWriteUserData data NULL", [](int h, unsigned char*) { return ZRWriteUserData(h, 1, 0, kId, nullptr, 1); }, kArg},
        {"ZRWriteUserData data NULL, length 0", [](int h, unsigned char*) { return ZRWriteUserData(h, 1, 0, kId, nullptr, 0); }, kArg},
        {"ZRWriteUserData length 243", [](int h, unsigned char*) { return ZRWriteUserData(h, 1, 0, kId, kData, 243); }, kArg},
        {"ZRWriteUserData length 255", [](int h, unsigned char*) { return ZRWriteUserData(h, 1, 0, kId, kData, 0x1FF); }, kArg},
        {"ZRSetEpcCode epcLength 13", [](int h, unsigned char*) { return ZRSetEpcCode(h, 1, kPwd, 13, 6, kData); }, ZR_ERR_ADDRESS},
        {"ZRSetEpcCode epcLength 7", [](int h, unsigned char*) { return ZRSetEpcCode(h, 1, kPwd, 7, 2, kData); }, ZR_ERR_ADDRESS},
        {"ZRSetEpcCode epcLength 14", [](int h, unsigned char*) { return ZRSetEpcCode(h, 1, kPwd, 14, 7, kData); }, ZR_ERR_ADDRESS},
        {"ZRSetEpcCode bad epcLength before NULL", [](int h, unsigned char*) { return ZRSetEpcCode(h, 1, nullptr, 13, 6, nullptr); }, ZR_ERR_ADDRESS},
        {"ZRSetEpcCode password NULL", [](int h, unsigned char*) { return ZRSetEpcCode(h, 1, nullptr, 4, 2, kData); }, kArg},
        {"ZRSetEpcCode data NULL", [](int h, unsigned char*) { return ZRSetEpcCode(h, 1, kPwd, 4, 2, nullptr); }, kArg},
        {"ZRSetEpcCode 124 words", [](int h, unsigned char*) { return ZRSetEpcCode(h, 1, kPwd, 12, 124, kData); }, kArg},
        {"ZRReadUserDataEPC password NULL", [](int h, unsigned char* o) { return ZRReadUserDataEPC(h, nullptr, 0, 2, 1, o); }, kArg},
        {"ZRReadUserDataEPC buffer NULL", [](int h, unsigned char*) { return ZRReadUserDataEPC(h, kPwd, 0, 2, 1, nullptr); }, kArg},
        {"ZRSetUseData password NULL", [](int h, unsigned char*) { return ZRSetUseData(h, 1, nullptr, 0, 1, kData); }, kArg},
        {"ZRSetUseData data NULL", [](int h, unsigned char*) { return ZRSetUseData(h, 1, kPwd, 0, 1, nullptr); }, kArg},
        {"ZRSetUseData 124 words", [](int h, unsigned char*) { return ZRSetUseData(h, 1, kPwd, 0, 124, kData); }, kArg},
        {"ZRSelectTag matchData NULL", [](int h, unsigned char*) { return ZRSelectTag(h, 1, 1, 0, nullptr); }, kArg},
        {"ZRSelectTagEPC matchData NULL", [](int h, unsigned char*) { return ZRSelectTagEPC(h, 1, 1, 0, nullptr, 4); }, kArg},
        {"ZRSelectTagEPC length 251", [](int h, unsigned char*) { return ZRSelectTagEPC(h, 1, 1, 0, kData, 251); }, kArg},
        {"ZRLockUserData 200 + 25", [](int h, unsigned char*) { return ZRLockUserData(h, 200, 1, kId, 25); }, ZR_ERR_RANGE},
        {"ZRLockUserData 255 + 255", [](int h, unsigned char*) { return ZRLockUserData(h, 255, 1, kId, 255); }, ZR_ERR_RANGE},
        {"ZRLockUserData tagId NULL", [](int h, unsigned char*) { return ZRLockUserData(h, 0, 1, nullptr, 8); }, kArg},
        {"ZRSetVisitPWD password NULL", [](int h, unsigned char*) { return ZRSetVisitPWD(h, 1, nullptr, kNewPwd); }, kArg},
        {"ZRSetVisitPWD newPassword NULL", [](int h, unsigned char*) { return ZRSetVisitPWD(h, 1, kPwd, nullptr); }, kArg},
        {"ZRSetDestroyPWD password NULL", [](int h, unsigned char*) { return ZRSetDestroyPWD(h, 1, nullptr, kNewPwd); }, kArg},
        {"ZRSetDestroyPWD newPassword NULL", [](int h, unsigned char*) { return ZRSetDestroyPWD(h, 1, kPwd, nullptr); }, kArg},
        {"ZRSetDataLocked mode 2", [](int h, unsigned char*) { return ZRSetDataLocked(h, 1, kPwd, 2, 0); }, ZR_ERR_PARAMETER},
        {"ZRSetDataLocked region 6", [](int h, unsigned char*) { return ZRSetDataLocked(h, 1, kPwd, 0, 6); }, ZR_ERR_PARAMETER},
        {"ZRSetDataLocked region -1", [](int h, unsigned char*) { return ZRSetDataLocked(h, 1, kPwd, 0, -1); }, ZR_ERR_PARAMETER},
        {"ZRSetDataLocked password NULL", [](int h, unsigned char*) { return ZRSetDataLocked(h, 1, nullptr, 1, 5); }, kArg},
        {"ZRSetDestroyTag password NULL", [](int h, unsigned char*) { return ZRSetDestroyTag(h, 1, nullptr, 1, kData); }, kArg},
        {"ZRSetDestroyTag data NULL", [](int h, unsigned char*) { return ZRSetDestroyTag(h, 1, kPwd, 1, nullptr); }, kArg},
        {"ZRSetDestroyTag 125 words", [](int h, unsigned char*) { return ZRSetDestroyTag(h, 1, kPwd, 125, kData); }, kArg},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Session s(l);
            auto out = fresh_buffer();
            EXPECT_EQ(c.call(s.handle, out.data()), c.expected);
            EXPECT_TRUE(s.peer.written.empty());
            EXPECT_EQ(s.peer.flushes, 0);
            EXPECT_TRUE(s.fake.sleeps.empty());
            EXPECT_TRUE(untouched(out));
        }
}

TEST(TagCommands, NoSessionComesBeforeEveryOtherCheck) {
    FakePlatform fake;
    auto out = fresh_buffer();
    for (const auto& row : rows()) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(-1, out.data()), ZR_ERR_NO_SESSION);
    }
    EXPECT_EQ(ZRSetEpcCode(-1, 1, nullptr, 13, 1, nullptr), ZR_ERR_NO_SESSION);
    EXPECT_EQ(ZRLockUserData(-1, 200, 1, kId, 25), ZR_ERR_NO_SESSION);
    EXPECT_EQ(ZRSetDataLocked(-1, 1, kPwd, 2, 6), ZR_ERR_NO_SESSION);
    EXPECT_EQ(ZRWriteUserData(7, 1, 0, nullptr, nullptr, 250), ZR_ERR_NO_SESSION);
    EXPECT_TRUE(untouched(out));
}

TEST(TagCommands, LargestSizesThatFitAreSentWhole) {
    struct Case {
        const char* name;
        std::function<int(int)> call;
        std::size_t payload;
        std::uint8_t len;
    };
    const Case cases[] = {
        {"ZRWriteUserData 242 bytes", [](int h) { return ZRWriteUserData(h, 1, 0, kId, kData, 242); }, 256, 254},
        {"ZRSetEpcCode 123 words", [](int h) { return ZRSetEpcCode(h, 1, kPwd, 12, 123, kData); }, 255, 253},
        {"ZRSetUseData 123 words", [](int h) { return ZRSetUseData(h, 1, kPwd, 0, 123, kData); }, 256, 254},
        {"ZRSelectTagEPC 250 bytes", [](int h) { return ZRSelectTagEPC(h, 1, 1, 0, kData, 250); }, 256, 254},
        {"ZRSetDestroyTag 124 words", [](int h) { return ZRSetDestroyTag(h, 1, kPwd, 124, kData); }, 256, 254},
        {"ZRSetEpcCode epcLength 12, 6 words", [](int h) { return ZRSetEpcCode(h, 1, kPwd, 12, 6, kData); }, 21, 0x13},
        {"ZRSetDestroyTag 6 words", [](int h) { return ZRSetDestroyTag(h, 1, kPwd, 6, kData); }, 20, 0x12},
        {"ZRSelectTagEPC 12 bytes", [](int h) { return ZRSelectTagEPC(h, 1, 1, 0, kData, 12); }, 18, 0x10},
        {"ZRLockUserData 200 + 24", [](int h) { return ZRLockUserData(h, 200, 1, kId, 24); }, 14, 0x0C},
    };
    for (const auto& l : kLinks)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(l.type) + " " + c.name);
            Session s(l);
            EXPECT_NE(c.call(s.handle), ZR_ERR_ARGUMENT);
            ASSERT_EQ(s.peer.requests.size(), 1u);
            EXPECT_EQ(s.peer.requests[0].size(), c.payload);
            EXPECT_EQ(s.peer.requests[0][0], 0);
            EXPECT_EQ(s.peer.requests[0][1], c.len);
        }
}

TEST(TagCommands, ZRSetEpcCodeReturnsZeroWhenNothingCouldBeSentAndNoReplyCame) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Session s(l);
        if (l.serial)
            s.peer.failing_writes = 300;  // the start byte fails every try
        else
            s.peer.not_writable = true;
        EXPECT_EQ(ZRSetEpcCode(s.handle, 1, kPwd, 4, 2, kData), 0);
    }
}

TEST(TagCommands, ZRLockUserDataReturnsZeroWithoutReceivingWhenTheSendFails) {
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Session s(l, "ZR_READ_TRIES=5\n");
        if (l.serial)
            s.peer.failing_writes = 300;
        else
            s.peer.failing_writes = 100;  // every send call of the frame
        s.peer.send({0x00, 0x02, 0x74, 0x00});  // would be taken if it were read
        EXPECT_EQ(ZRLockUserData(s.handle, 0, 1, kId, 8), 0);
        EXPECT_TRUE(s.fake.sleeps.empty());
    }
}

TEST(TagCommands, StatusesFollowTheDeviceClass) {
    // 0x92 is a tag error only for classes 1 and 2; class 3 knows 0x62.
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Session s(l);
        s.peer.reply_next(status_reply(0x88, 0x92));
        EXPECT_EQ(ZRSetVisitPWD(s.handle, 1, kPwd, kNewPwd), ZR_ERR_UNKNOWN_STATUS);
        s.peer.reply_next(status_reply(0x8A, 0x3F));
        EXPECT_EQ(ZRSetDataLocked(s.handle, 1, kPwd, 1, 1), ZR_ERR_UNKNOWN_STATUS);
    }
}
