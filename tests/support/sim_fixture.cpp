#include "sim_fixture.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "zr.h"

namespace zr::test {

std::string SimHost::unique_address() {
    // 127.A.B.C with A from the process id, so parallel test processes never collide.
    static std::atomic<unsigned> next{1};
    unsigned pid = static_cast<unsigned>(::getpid());
    unsigned n = next++;
    return "127." + std::to_string(1 + pid % 250) + "." + std::to_string((pid / 250) % 250) + "." +
           std::to_string(1 + n % 250);
}

SimHost::SimHost() : sim_(std::make_unique<sim::Simulator>()) {
    std::string error;
    for (int attempt = 0; attempt < 5 && address_.empty(); ++attempt) {
        auto a = unique_address();
        if (sim_->listen_tcp(a, sim::kReaderPort, error)) address_ = a;
    }
    if (address_.empty()) ADD_FAILURE() << error;
    if (!sim_->open_pty(pty_, error)) ADD_FAILURE() << error;
    sim_->start();
    char tmpl[] = "/tmp/zr-test-XXXXXX";
    dir_ = ::mkdtemp(tmpl) ? tmpl : "/tmp";
    const std::string tcp = "ZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + address_ + "\n";
    const std::string serial = "ZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + pty_ + "\nZR_HOST_NAME=127.0.0.1\n";
    // Tests whose subject is not timing answer to deadlines, not to fixed sleeps: a loaded
    // machine then slows them down instead of failing them.
    ini_ = write_file("zr.ini", "[tcp]\n" + tcp + "ZR_REPLY_TIMING=whole\n\n[serial]\n" + serial +
                                    "ZR_REPLY_TIMING=whole\n\n[tcp_fixed]\n" + tcp + "\n[serial_fixed]\n" + serial);
}

SimHost::~SimHost() {
    sim_->stop();
    std::error_code ec;
    if (dir_ != "/tmp") std::filesystem::remove_all(dir_, ec);
}

std::string SimHost::write_file(const std::string& name, const std::string& text) const {
    auto path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

void SimHost::field(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        if (line == "clear") {
            auto tags = sim_->control("list");
            tags.pop_back();  // "ok"
            std::vector<std::string> removes;
            for (const auto& t : tags) removes.push_back("remove " + t.substr(0, t.find(' ')));
            field(removes);
            continue;
        }
        const auto answer = sim_->control(line);
        EXPECT_EQ(answer, std::vector<std::string>{"ok"}) << line;
    }
}

void BothLinks::SetUp() {
    ASSERT_EQ(ZROpen(&handle, host.ini().c_str(), GetParam().c_str()), ZR_OK);
}

void BothLinks::TearDown() {
    if (handle != -1) {
        EXPECT_EQ(ZRClose(&handle), ZR_OK);
    }
}

std::string link_name(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

}  // namespace zr::test
