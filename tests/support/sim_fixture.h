// zrsim started in-process for end-to-end tests: each test gets its own loopback address
// (so tests can run in parallel) and its own pseudo-terminal, and an INI file naming them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "server.h"

namespace zr::test {

class SimHost {
public:
    // Listens on a loopback address unique to this process and test, and on a pty.
    SimHost();
    ~SimHost();
    sim::Simulator& sim() { return *sim_; }
    const std::string& address() const { return address_; }
    const std::string& pty() const { return pty_; }
    // An INI file in a temporary directory with sections "tcp" and "serial" in whole reply
    // timing, and "tcp_fixed" and "serial_fixed" in fixed reply timing.
    const std::string& ini() const { return ini_; }
    // A fresh loopback address nobody else in this run uses.
    static std::string unique_address();
    // Writes `text` to a file in the host's temporary directory; returns its path.
    std::string write_file(const std::string& name, const std::string& text) const;
    // Changes the field as zrsim's control lines do ("add EPC ...", "remove EPC", "move EPC N",
    // "clear": every tag leaves); a line the simulator refuses fails the test.
    void field(const std::vector<std::string>& lines);

private:
    std::unique_ptr<sim::Simulator> sim_;
    std::string address_, pty_, dir_, ini_;
};

// Parameterised over the two links: GetParam() is "tcp" or "serial" (or, for tests whose
// subject is timing, also "tcp_fixed" and "serial_fixed"): the section opened.
class BothLinks : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    void TearDown() override;
    bool serial() const { return GetParam().rfind("serial", 0) == 0; }
    bool whole() const { return GetParam().find("_fixed") == std::string::npos; }
    SimHost host;
    int handle = -1;
};

std::string link_name(const ::testing::TestParamInfo<std::string>& info);

}  // namespace zr::test
