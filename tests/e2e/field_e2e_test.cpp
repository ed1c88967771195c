// Tags that come and go while a session runs: the simulator's field changed in-process, by a
// scenario and over its control socket, as EPC inventories through the library see it.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "sim_fixture.h"
#include "zr.h"

using namespace zr::test;
using namespace std::chrono_literals;
using zr::sim::Bytes;

namespace {

const Bytes kNewcomer = {0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0x00, 0x00, 0x00, 0x99};

class FieldE2E : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ZROpen(&handle, host.ini().c_str(), "tcp"), ZR_OK); }
    void TearDown() override {
        if (handle != -1) {
            EXPECT_EQ(ZRClose(&handle), ZR_OK);
        }
    }
    // The last EPC bytes of the tags an EPC inventory on `antenna` reports (each report
    // awaited, with a limit against a hang; then no more).
    std::vector<int> inventory(int antenna, std::size_t expected) {
        std::vector<int> out;
        EXPECT_GT(ZRIdentifyEpcCode(handle, antenna, 0, 0), 0);
        for (std::size_t n = 0; n < expected; ++n) {
            std::array<unsigned char, 256> buffer{};
            int r = 0;
            const auto end = std::chrono::steady_clock::now() + 2s;
            while ((r = ZREpcCodeReport(handle, buffer.data())) == 0 && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(2ms);
            if (r != ZR_OK) {
                ADD_FAILURE() << "report " << n + 1 << ": " << r;
                return out;
            }
            out.push_back(buffer[4 + 11]);
        }
        std::array<unsigned char, 256> buffer{};
        EXPECT_EQ(ZREpcCodeReport(handle, buffer.data()), 0) << "no more reports";
        return out;
    }
    SimHost host;
    int handle = -1;
};

}  // namespace

TEST_F(FieldE2E, TagsArriveMoveAndLeaveInProcess) {
    const struct {
        const char* step;
        std::function<bool()> change;
        std::vector<int> antenna1, antenna2;
    } steps[] = {
        {"arrives at antenna 2", [&] { return host.sim().add_tag(kNewcomer, 2); }, {1, 2, 3}, {1, 2, 3, 0x99}},
        {"moves to antenna 1", [&] { return host.sim().move_tag(kNewcomer, 1); }, {1, 2, 3, 0x99}, {1, 2, 3}},
        {"leaves", [&] { return host.sim().remove_tag(kNewcomer); }, {1, 2, 3}, {1, 2, 3}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        ASSERT_TRUE(s.change());
        EXPECT_EQ(inventory(1, s.antenna1.size()), s.antenna1);
        EXPECT_EQ(inventory(2, s.antenna2.size()), s.antenna2);
    }
    std::string error;
    EXPECT_FALSE(host.sim().remove_tag(kNewcomer, &error));
    EXPECT_EQ(error, "EPC 300833B2DDD9014000000099 is not in the field");
}

// The arrival is due at once and its departure in a day: the first is applied, the second not.
TEST_F(FieldE2E, ScenarioAppliesWhatIsDueAndNotWhatIsNot) {
    zr::sim::Scenario scenario;
    std::string error;
    const auto path = host.write_file("passing.txt",
                                      "0 add 300833B2DDD9014000000099 antenna 2\n"
                                      "86400000 remove 300833B2DDD9014000000099\n");
    ASSERT_TRUE(zr::sim::load_scenario(path, scenario, error)) << error;
    host.sim().play(scenario);
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (host.sim().with_model([](auto& m) { return m.tags.size(); }) < 4 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(inventory(2, 4), (std::vector<int>{1, 2, 3, 0x99}));
    EXPECT_EQ(inventory(1, 3), (std::vector<int>{1, 2, 3}));
}

TEST_F(FieldE2E, ControlSocketAnswersEachLine) {
    const auto path = host.write_file("control", "");  // a regular file there is not replaced
    std::string error;
    EXPECT_FALSE(host.sim().listen_control(path, error));
    EXPECT_NE(error.find("it is not a socket"), std::string::npos) << error;
    ::unlink(path.c_str());
    ASSERT_TRUE(host.sim().listen_control(path, error)) << error;

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << std::strerror(errno);
    timeval guard{5, 0};  // against a hang only
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    const std::string lines = "add 300833B2DDD9014000000099\nremove FFFF\nlist\n";
    ASSERT_EQ(::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL), static_cast<ssize_t>(lines.size()));
    const std::string expected =
        "ok\nerror: EPC FFFF is not in the field\n"
        "300833B2DDD9014000000001\n300833B2DDD9014000000002\n300833B2DDD9014000000003\n300833B2DDD9014000000099\nok\n";
    std::string answers;
    char buf[512];
    for (ssize_t n; answers.size() < expected.size() && (n = ::read(fd, buf, sizeof buf)) > 0;)
        answers.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(inventory(1, 4), (std::vector<int>{1, 2, 3, 0x99}));
}
