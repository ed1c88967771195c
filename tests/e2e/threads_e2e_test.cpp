// Many threads on the library at once: calls on one handle take turns and each gets its own
// reply; handles run side by side; opens and closes race the commands of other sessions and of
// their own. The CI runs these under ThreadSanitizer (ctest -L threads).
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim_fixture.h"
#include "zr.h"

namespace zr::test {
namespace {

// Runs `body(t)` on `n` threads at once and waits for all of them.
void on_threads(int n, const std::function<void(int)>& body) {
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) threads.emplace_back(body, t);
    for (auto& th : threads) th.join();
}

// Each thread writes its own bytes to its own place of the tag area, then reads them back
// between other commands: a reply that went to the wrong caller shows as foreign bytes.
// (A tag area query waits 500 ms: one round per thread.)
void own_data_round(int handle, int t, int rounds = 1) {
    const int address = 0x80 + 8 * t;
    const std::array<unsigned char, 4> mine{static_cast<unsigned char>(0xA0 + t), static_cast<unsigned char>(t),
                                            static_cast<unsigned char>(0x5A ^ t), 0x33};
    EXPECT_EQ(ZRTagFastSet(handle, address, 4, mine.data()), ZR_OK) << "thread " << t;
    for (int i = 0; i < rounds; ++i) {
        std::array<unsigned char, 4> got{};
        EXPECT_EQ(ZRTagQuery(handle, address, 4, got.data()), ZR_OK) << "thread " << t;
        EXPECT_EQ(got, mine) << "thread " << t << " round " << i;
        EXPECT_EQ(ZRReset(handle), ZR_OK) << "thread " << t;
    }
}

using Threads = BothLinks;
INSTANTIATE_TEST_SUITE_P(Links, Threads, ::testing::Values("tcp", "serial"), link_name);

TEST_P(Threads, OverlappingCallsOnOneHandleEachGetTheirOwnReply) {
    on_threads(4, [&](int t) { own_data_round(handle, t); });
}

TEST_P(Threads, HandlesOfTwoReadersRunSideBySide) {
    SimHost other;
    int second = -1;
    ASSERT_EQ(ZROpen(&second, other.ini().c_str(), GetParam().c_str()), ZR_OK);
    on_threads(4, [&](int t) { own_data_round(t % 2 ? second : handle, t); });
    EXPECT_EQ(ZRClose(&second), ZR_OK);
}

// Every key ZRUserIdentify sends from the settings, one profile per section: a call must send
// all of one profile, whichever open was last.
std::string profile(const std::string& section, const std::string& link_keys, int v) {
    const std::string n = std::to_string(v);
    return "[" + section + "]\n" + link_keys + "ZR_SCAN_TRIES=" + n + "\nZR_REPEAT_DATAS=" + n +
           "\nZR_READ_TIMEOUT=" + n + "\nZR_ANTENNA_CONCTL=" + n + "\n";
}

TEST_P(Threads, OpensAndClosesRaceTheCommandsOfAnotherSession) {
    const std::string tcp = "ZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + host.address() + "\n";
    const std::string com = "ZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + host.pty() + "\nZR_HOST_NAME=127.0.0.1\n";
    const auto ini = host.write_file("profiles.ini", profile("a", com, 11) + profile("b", tcp, 22) +
                                                         profile("c", tcp, 33));
    ASSERT_EQ(ZRClose(&handle), ZR_OK);  // the serial port takes one session
    int mine = -1;
    ASSERT_EQ(ZROpen(&mine, ini.c_str(), serial() ? "a" : "b"), ZR_OK);
    host.sim().clear_requests();
    std::thread opener([&] {
        for (int i = 0; i < 8; ++i) {
            int h = -1;
            EXPECT_EQ(ZROpen(&h, ini.c_str(), i % 2 ? "b" : "c"), ZR_OK);
            EXPECT_EQ(ZRReset(h), ZR_OK);
            EXPECT_EQ(ZRClose(&h), ZR_OK);
        }
    });
    for (int i = 0; i < 8; ++i) {
        EXPECT_GT(ZRUserIdentify(mine, 0, 1, 0, 0, 0, 0), 0);
        unsigned char report[256];
        ZRUserReport(mine, report);  // takes the inventory's answer off the line
        EXPECT_EQ(ZRSetReadCfg(mine, 1, 1), ZR_OK);
    }
    opener.join();
    EXPECT_EQ(ZRClose(&mine), ZR_OK);

    int identifies = 0;
    for (const auto& r : host.sim().requests()) {
        if (r.size() < 8 || r[2] != 0x4A) continue;
        ++identifies;
        // LEN LEN 4A antenna option1 scan repeat timeout ...
        EXPECT_TRUE(r[5] == r[6] && r[6] == r[7] && (r[5] == 11 || r[5] == 22 || r[5] == 33))
            << "mixed settings " << int(r[5]) << " " << int(r[6]) << " " << int(r[7]);
    }
    EXPECT_EQ(identifies, 8);
}

// Calls on a handle that another thread closes: each either ran whole before the close (1)
// or found the session gone (-1). A link closed under a running exchange would give -4.
TEST_P(Threads, CloseWaitsForTheRunningCallAndLaterCallsGetNoSession) {
    constexpr int kCalls = 6;
    std::array<std::array<int, kCalls>, 3> results{};
    std::atomic<int> finished{0};
    const int h = handle;
    std::thread closer([&] {
        while (finished < 2) std::this_thread::yield();  // while the others' calls run or wait
        EXPECT_EQ(ZRClose(&handle), ZR_OK);
    });
    on_threads(3, [&](int t) {
        for (int i = 0; i < kCalls; ++i) {
            results[t][i] = ZRReset(h);
            ++finished;
        }
    });
    closer.join();
    for (const auto& calls : results) {
        int i = 0;
        while (i < kCalls && calls[i] == ZR_OK) ++i;
        while (i < kCalls && calls[i] == ZR_ERR_NO_SESSION) ++i;
        EXPECT_EQ(i, kCalls) << "a call neither whole nor refused";
    }
    EXPECT_EQ(ZRReset(h), ZR_ERR_NO_SESSION);
    EXPECT_EQ(handle, -1);
}

}  // namespace
}  // namespace zr::test
