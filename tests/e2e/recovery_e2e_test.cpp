// Why a call failed, a lost link and reconnecting, end to end: the shared library (and
// zrtool) against zrsim over real loopback TCP and a real pseudo-terminal.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "child.h"
#include "sim_fixture.h"
#include "zr.h"

using namespace zr::test;

namespace {

// Replaces every "{name}" in `text`.
std::string filled(std::string text, const std::string& name, const std::string& value) {
    const std::string mark = "{" + name + "}";
    for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
        text.replace(at, mark.size(), value);
    return text;
}

bool contains_text(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::unique_ptr<zr::sim::Simulator> reader_at(const std::string& address) {
    auto sim = std::make_unique<zr::sim::Simulator>();
    std::string error;
    EXPECT_TRUE(sim->listen_tcp(address, zr::sim::kReaderPort, error)) << error;
    sim->start();
    return sim;
}

}  // namespace

// One row per family of open failures: the result stays what it always was, and the cause
// names the file, section, key, value, port or peer at fault.
TEST(Causes, EachOpenFailureSaysWhy) {
    SimHost host;
    const bool root = ::geteuid() == 0;  // root reads and opens whatever the mode says
    const std::string refused = SimHost::unique_address();
    struct Row {
        const char* family;
        const char* file;  // INI text in "reader.ini"; nullptr: no such file
        const char* section;
        int result;
        const char* cause;  // {file}, {pty}, {refused} filled in
        bool needs_non_root = false;
        std::function<void(const std::string& path)> before = nullptr;  // just before the open
    };
    int first = -1;  // the session already holding the port
    struct stat pty_mode{};
    ASSERT_EQ(::stat(host.pty().c_str(), &pty_mode), 0);
    const Row rows[] = {
        {"missing file", nullptr, "reader", 0, "cannot read {file}: no such file or directory"},
        {"empty file", "", "reader", 0, "{file} is empty"},
        {"directory", nullptr, "reader", 0, "{file} is a directory, not a settings file", false,
         [](const std::string& path) { ::mkdir(path.c_str(), 0755); }},
        {"no section", "[other]\nZR_PORT_TYPE=TCP\n", "reader", 0, "{file}: no section [reader]"},
        {"misspelt key", "[reader]\nZR_PORT_TPYE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=10.0.0.1\n", "reader", 0,
         "{file} [reader]: no ZR_PORT_TYPE ('ZR_PORT_TPYE' is no key: did you mean ZR_PORT_TYPE?)"},
        {"port type", "[reader]\nZR_PORT_TYPE=TPC\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=10.0.0.1\n", "reader", 0,
         "ZR_PORT_TYPE 'TPC' is neither COM nor TCP"},
        {"bad host name", "[reader]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=localhost\n", "reader",
         ZR_ERR_OPEN_PORT, "ZR_HOST_NAME 'localhost' is not a dotted IPv4 address"},
        {"permission (file)", "[reader]\nZR_PORT_TYPE=TCP\n", "reader", 0, "cannot read {file}: permission denied",
         true, [](const std::string& path) { ::chmod(path.c_str(), 0); }},
        {"permission (port)", "[reader]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER={pty}\nZR_HOST_NAME=x\n", "reader",
         ZR_ERR_OPEN_PORT, "cannot open {pty}: permission denied", true,
         [&](const std::string&) { ::chmod(host.pty().c_str(), 0); }},
        {"in use", "[reader]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER={pty}\nZR_HOST_NAME=x\n", "reader", ZR_ERR_OPEN_PORT,
         "port {pty} is in use", false,
         [&](const std::string&) { ASSERT_EQ(ZROpen(&first, host.ini().c_str(), "serial"), ZR_OK); }},
        {"refused", "[reader]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME={refused}\n", "reader",
         ZR_ERR_CONNECT, "connection refused by {refused}:7086"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.family);
        if (row.needs_non_root && root) continue;  // a mode cannot keep root out
        const std::string path = host.write_file("reader.ini", "");
        auto expand = [&](const char* text) {
            return filled(filled(filled(text, "file", path), "pty", host.pty()), "refused", refused);
        };
        if (row.file) {
            host.write_file("reader.ini", expand(row.file));
        } else {
            ::unlink(path.c_str());
        }
        if (row.before) row.before(path);
        int handle = -1;
        EXPECT_EQ(ZROpen(&handle, path.c_str(), row.section), row.result);
        EXPECT_EQ(handle, -1);
        EXPECT_EQ(std::string(ZRLastCause()), expand(row.cause));
        if (first != -1) {
            EXPECT_EQ(ZRClose(&first), ZR_OK);
        }
        ::chmod(path.c_str(), 0644);
        ::rmdir(path.c_str());
        ::chmod(host.pty().c_str(), pty_mode.st_mode & 07777);
    }
    // A later failure with nothing more to say replaces the cause; a success leaves it.
    EXPECT_EQ(ZRReset(-1), ZR_ERR_NO_SESSION);
    EXPECT_STREQ(ZRLastCause(), ZRResultText(ZR_ERR_NO_SESSION));
    EXPECT_EQ(ZRSetDeviceClass(0, ZR_MODEL_CLASS3), ZR_OK);
    EXPECT_STREQ(ZRLastCause(), ZRResultText(ZR_ERR_NO_SESSION));
}

// The reader goes away under an open session: calls fail, the loss is known, and a reconnect
// under the same handle brings the session back once the reader is there again (TCP), or
// says why not (the pseudo-terminal is gone for good) and leaves the session lost but open.
TEST(Causes, LostLinkIsKnownAndReconnectBringsItBack) {
    for (const bool serial : {false, true}) {
        SCOPED_TRACE(serial ? "serial" : "tcp");
        const std::string address = SimHost::unique_address();
        auto reader = reader_at(address);
        std::string pty, error;
        if (serial) {
            ASSERT_TRUE(reader->open_pty(pty, error)) << error;
        }
        SimHost files;
        const std::string ini = files.write_file(
            "lost.ini", serial ? "[r]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + pty + "\nZR_HOST_NAME=x\n"
                               : "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + address + "\n");
        int handle = -1;
        ASSERT_EQ(ZROpen(&handle, ini.c_str(), "r"), ZR_OK);
        EXPECT_EQ(ZRReset(handle), ZR_OK);
        EXPECT_EQ(ZRLinkState(handle), 1);

        reader.reset();  // the reader process ends: its sockets and the pty's master close
        EXPECT_EQ(ZRReset(handle), ZR_ERR_NO_REPLY);
        EXPECT_EQ(ZRLinkState(handle), 0);
        const std::string loss = ZRLastCause();
        EXPECT_EQ(loss.rfind("link lost", 0), 0u) << loss;
        // Every later call on the lost link keeps the cause, not only the one that found it.
        EXPECT_EQ(ZRIdentify(handle, 1, 0), 0);
        EXPECT_EQ(std::string(ZRLastCause()), loss);
        EXPECT_EQ(ZRReset(handle), ZR_ERR_NO_REPLY);
        EXPECT_EQ(std::string(ZRLastCause()), loss);

        if (serial) {
            EXPECT_EQ(ZRReconnect(handle), ZR_ERR_OPEN_PORT);
            EXPECT_EQ(std::string(ZRLastCause()).rfind("cannot open " + pty + ": ", 0), 0u) << ZRLastCause();
            EXPECT_EQ(ZRLinkState(handle), 0);
            EXPECT_EQ(ZRReset(handle), ZR_ERR_NO_REPLY);
        } else {
            EXPECT_EQ(ZRReconnect(handle), ZR_ERR_CONNECT);
            EXPECT_EQ(std::string(ZRLastCause()), "connection refused by " + address + ":7086");
            EXPECT_EQ(ZRLinkState(handle), 0);
            reader = reader_at(address);
            EXPECT_EQ(ZRReconnect(handle), ZR_OK);
            EXPECT_EQ(ZRLinkState(handle), 1);
            EXPECT_EQ(ZRReset(handle), ZR_OK);
        }
        EXPECT_EQ(ZRClose(&handle), ZR_OK);
        EXPECT_EQ(ZRReconnect(handle), ZR_ERR_NO_SESSION);
        EXPECT_EQ(ZRLinkState(handle), ZR_ERR_NO_SESSION);
    }
}

// A trace file that cannot be opened does not stop the session; the open says why.
TEST(Causes, AnUnwritableTraceFileIsToldByASuccessfulOpen) {
    SimHost host;
    const std::string ini =
        host.write_file("trace.ini", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + host.address() +
                                         "\nZR_TRACE_FILE=/nonexistent/zr/trace.log\n");
    int handle = -1;
    ASSERT_EQ(ZROpen(&handle, ini.c_str(), "r"), ZR_OK);
    EXPECT_EQ(std::string(ZRLastCause()),
              "cannot open trace file /nonexistent/zr/trace.log (ZR_TRACE_FILE): No such file or directory");
    EXPECT_EQ(ZRReset(handle), ZR_OK);
    EXPECT_EQ(ZRClose(&handle), ZR_OK);

#ifdef ZRTOOL_PATH
    auto r = run({ZRTOOL_PATH, "--config", ini, "--section", "r", "reset"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_TRUE(contains_text(r.err, "zrtool: warning: cannot open trace file /nonexistent/zr/trace.log")) << r.err;
#endif
}

#ifdef ZRTOOL_PATH
namespace {

// zrtool running with its standard output read line by line.
Child tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ZRTOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildOptions options;
    options.err = Sink::inherit;
    return Child(argv, options);
}

}  // namespace

// inventory --watch while the reader goes away and, 2 s later, comes back on its address.
// Without --reconnect the watch reports the loss and ends with a failure; with it the same
// process reports tags again once the reader is back.
TEST(Causes, WatchReportsTheLossAndWithReconnectGoesOn) {
    for (const bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect ? "--reconnect" : "without --reconnect");
        const std::string address = SimHost::unique_address();
        auto reader = reader_at(address);
        std::vector<std::string> args{"--tcp", address, "inventory", "--watch", "--interval", "50"};
        if (reconnect) args.push_back("--reconnect");
        auto zrtool = tool(args);
        ASSERT_NE(zrtool.line_with("seen 2"), "") << zrtool.out();

        reader.reset();
        ASSERT_NE(zrtool.line_with("link lost"), "") << zrtool.out();
        if (!reconnect) {
            EXPECT_EQ(zrtool.wait(), 1) << zrtool.out();
            continue;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        reader = reader_at(address);
        const auto back = std::chrono::steady_clock::now();
        ASSERT_NE(zrtool.line_with("reconnected"), "") << zrtool.out();
        ASSERT_NE(zrtool.line_with(" seen "), "") << zrtool.out();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - back);
        RecordProperty("tags_again_after_restart_ms", static_cast<int>(ms.count()));
        std::printf("tags reported again %lld ms after the reader returned\n", static_cast<long long>(ms.count()));
        zrtool.signal(SIGINT);
        EXPECT_NE(zrtool.wait(), -1) << zrtool.out();
    }
}
#endif
