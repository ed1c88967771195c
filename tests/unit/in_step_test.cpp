// The promises that keep the library in step with the reader, one test each, each failing
// when its promise is broken (scripts/mutants.sh breaks them one at a time).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/session.h"
#include "fake_platform.h"
#include "protocol/tcp_framer.h"
#include "zr.h"

using namespace zr::test;

namespace {

Bytes state_reply(std::uint8_t v) { return {0x00, 0x09, 0xA0, 0x00, 0x00, v, v, v, v, v, v}; }

}  // namespace

// A reply is taken only from frames that arrive after its request: whatever is already there
// when the request goes out (a stale frame of the same code, behind a babble of stray bytes
// longer than any small discard bound) answers nothing it asks.
TEST(InStep, FramesThereBeforeTheRequestAreNeverItsReply) {
    for (const auto& l : kLinks)
        for (std::size_t babble : {std::size_t{0}, std::size_t{1000}}) {
            SCOPED_TRACE(std::string(l.type) + ", stray bytes " + std::to_string(babble));
            Rig rig(l);
            rig.peer.send_raw(Bytes(babble, 0x11));
            rig.peer.send(state_reply(0xAA));
            rig.peer.reply_next(state_reply(0xBB), 5);
            unsigned char s[6] = {};
            EXPECT_EQ(ZRGetReaderState(rig.h, 0, s), ZR_OK);
            EXPECT_EQ(s[0], 0xBB);
        }
}

// A frame too short to be a reply (5 bytes: LEN 1, the right code, CRC) does not end a
// command's receive attempts: the reply in a later attempt is still taken.
TEST(InStep, AFrameTooShortForAReplyDoesNotEndTheAttempts) {
    const unsigned char id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (const auto& l : kLinks) {
        SCOPED_TRACE(l.type);
        Rig rig(l);
        rig.peer.send({0x00, 0x01, 0x72}, 1);
        rig.peer.send({0x00, 0x07, 0x72, 0x00, 0x00, 9, 8, 7, 6}, 120);
        unsigned char out[4] = {};
        EXPECT_EQ(ZRReadUserData(rig.h, 1, 0, 4, id, out), ZR_OK);
        EXPECT_EQ(out[0], 9);
    }
}

// A frame is given up only after 20 ms of silence, however fast the port's waits return.
TEST(InStep, AFramePausingUnderTwentyMillisecondsIsStillTaken) {
    const auto wire = zr::sim::serial_wire(state_reply(0x42));
    Rig rig(kLinks[0]);
    rig.peer.early_wake_us = 10;
    rig.peer.send_raw(Bytes(wire.begin(), wire.begin() + 5), 50);
    rig.peer.send_raw(Bytes(wire.begin() + 5, wire.end()), 65);
    unsigned char s[6] = {};
    EXPECT_EQ(ZRGetReaderState(rig.h, 0, s), ZR_OK);
    EXPECT_EQ(s[0], 0x42);
}

// The TCP framer never refuses bytes: a buffer filled with bytes of no frame makes room.
TEST(InStep, AFullFramerMakesRoomForWhatComesNext) {
    zr::protocol::TcpFramer framer;
    for (std::size_t filled = 0; filled < zr::protocol::TcpFramer::kCapacity;) {
        auto space = framer.space();
        ASSERT_FALSE(space.empty());
        std::fill(space.begin(), space.end(), std::uint8_t{0x00});
        framer.commit(space.size());
        filled += space.size();
    }
    const auto frame = zr::sim::with_crc(state_reply(1));
    auto space = framer.space();
    ASSERT_GE(space.size(), frame.size());
    std::copy(frame.begin(), frame.end(), space.begin());
    framer.commit(frame.size());
    std::optional<std::span<const std::uint8_t>> got;
    while (auto f = framer.next()) got = f;
    ASSERT_TRUE(got);
    EXPECT_EQ(Bytes(got->begin(), got->end()), frame);
}

// Calls on one session take turns in the order they asked: none waits behind a later one.
TEST(InStep, CallsOnASessionTakeTurnsFirstComeFirstServed) {
    zr::core::TurnLock lock;
    lock.lock();
    std::vector<int> order;
    std::vector<std::thread> threads;
    constexpr int kThreads = 8;
    for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([&, k] {
            lock.lock();
            order.push_back(k);
            lock.unlock();
        });
        // The next thread asks only once this one waits.
        for (int spin = 0; lock.waiting() < static_cast<std::uint64_t>(k + 1) && spin < 2'000'000; ++spin)
            std::this_thread::yield();
        ASSERT_EQ(lock.waiting(), static_cast<std::uint64_t>(k + 1));
    }
    lock.unlock();
    for (auto& t : threads) t.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));

    // A thread that lets go and asks again at once comes after the one already waiting,
    // though it never had to sleep: no barging.
    for (int round = 0; round < 20; ++round) {
        std::vector<char> turns;
        lock.lock();
        std::thread waiter([&] {
            lock.lock();
            turns.push_back('w');
            lock.unlock();
        });
        for (int spin = 0; lock.waiting() < 1 && spin < 2'000'000; ++spin) std::this_thread::yield();
        ASSERT_EQ(lock.waiting(), 1u);
        lock.unlock();
        lock.lock();
        turns.push_back('m');
        lock.unlock();
        waiter.join();
        EXPECT_EQ(turns, (std::vector<char>{'w', 'm'})) << "round " << round;
    }
}
