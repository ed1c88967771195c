// The protocol analyser between the library and zrsim, and the replay of recorded
// transcripts: real loopback TCP and real pseudo-terminals on both sides.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "child.h"
#include "proxy.h"
#include "replay.h"
#include "sim_fixture.h"
#include "zr.h"

using namespace zr::test;

namespace {

// Every line a sink receives, safe to read once the producer has stopped.
struct Lines {
    std::mutex m;
    std::vector<std::string> all;
    std::function<void(const std::string&)> sink() {
        return [this](const std::string& l) {
            std::lock_guard lock(m);
            all.push_back(l);
        };
    }
};

// What one session of the library gets from the reader: each call's result and outputs.
std::vector<std::string> session(const std::string& ini, const std::string& section) {
    std::vector<std::string> got;
    int h = -1;
    got.push_back("open " + std::to_string(ZROpen(&h, ini.c_str(), section.c_str())));
    unsigned char buf[256] = {};
    const unsigned char tag[8] = {0xE2, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, 0x02};
    const unsigned char nobody[8] = {};
    auto out = [&](const char* what, int r, std::size_t n) {
        got.push_back(std::string(what) + " " + std::to_string(r) + " " + zr::sim::hex(buf, n));
        std::fill(std::begin(buf), std::end(buf), 0);
    };
    out("reset", ZRReset(h), 0);
    out("sys-query", ZRSysQuery(h, 3, 4, buf), 4);
    out("read", ZRReadUserData(h, 1, 0, 8, tag, buf), 8);
    out("read nobody", ZRReadUserData(h, 1, 0, 8, nobody, buf), 8);
    out("start", ZRIdentifyEpcCode(h, 1, 0, 0), 0);
    for (int quiet = 0; quiet < 5;) {
        const int r = ZREpcCodeReport(h, buf);
        if (r == 0) {
            ++quiet;
            ::usleep(50000);
            continue;
        }
        out("report", r, 16);
    }
    got.push_back("close " + std::to_string(ZRClose(&h)));
    return got;
}

// The frames of trace lines ("<- HEX  NAME") and of the analyser's ("TIME  > HEX  # ..."),
// as "> HEX" and "< HEX".
std::vector<std::string> frames(const std::vector<std::string>& lines, bool trace) {
    std::vector<std::string> out;
    for (const auto& l : lines) {
        if (trace) {
            if (l.rfind("<- ", 0) != 0 && l.rfind("-> ", 0) != 0) continue;
            out.push_back((l[0] == '<' ? "> " : "< ") + l.substr(3, l.find("  ") - 3));
        } else {
            const auto at = l.find(") ");
            if (at == std::string::npos || l.find(" # ") == std::string::npos) continue;
            std::string f = l.substr(at + 3);
            f = f.substr(0, f.find("  #"));
            f.erase(f.find_last_not_of(' ') + 1);
            out.push_back(f);
        }
    }
    return out;
}

}  // namespace

TEST(Analyser, BetweenTheLibraryAndTheReaderItChangesNothingAndShowsWhatTheReaderSaw) {
    for (const bool serial : {false, true}) {
        SCOPED_TRACE(serial ? "serial" : "tcp");
        SimHost host;
        Lines trace, shown;
        host.sim().set_trace(trace.sink());
        const auto direct = session(host.ini(), serial ? "serial" : "tcp");
        trace.all.clear();

        zr::sim::Proxy proxy(shown.sink(), nullptr);
        std::string error, where;
        if (serial) {
            ASSERT_TRUE(proxy.upstream_serial(host.pty(), error)) << error;
            ASSERT_TRUE(proxy.open_pty(where, error)) << error;
        } else {
            where = SimHost::unique_address();
            proxy.upstream_tcp(host.address(), 7086);
            ASSERT_TRUE(proxy.listen_tcp(where, 7086, error)) << error;
        }
        proxy.start();
        const std::string ini = host.write_file(
            "proxy.ini", serial ? "[p]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + where + "\nZR_HOST_NAME=127.0.0.1\n"
                                : "[p]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + where + "\n");
        const auto proxied = session(ini, "p");
        ::usleep(200000);  // the last bytes through the analyser
        proxy.stop();
        host.sim().set_trace(nullptr);

        EXPECT_EQ(proxied, direct);
        EXPECT_EQ(frames(shown.all, false), frames(trace.all, true));
        bool decoded = false;
        for (const auto& l : shown.all) decoded |= l.find("READ_USER_DATA: status 0x61 (no tag matches, result 3002)") != std::string::npos;
        EXPECT_TRUE(decoded) << "the refusal of the unknown tag, decoded";
    }
}

TEST(Analyser, FramesAreFoundAndJudgedWhateverTheChunks) {
    const zr::sim::Bytes good = zr::sim::with_crc({0x00, 0x02, 0x67, 0x00});
    zr::sim::Bytes bad = good;
    bad.back() ^= 0xFF;
    for (const bool serial : {false, true}) {
        zr::sim::Bytes wire = {0xA0, 0xA1};
        for (const auto& f : {good, bad}) {
            const auto w = serial ? zr::protocol::stuff_framed(f) : f;
            wire.insert(wire.end(), w.begin(), w.end());
        }
        std::vector<zr::sim::Piece> pieces;
        zr::sim::FrameSplitter splitter(serial);
        for (auto b : wire)  // a byte at a time: the worst split there is
            for (auto& p : splitter.feed(&b, 1)) pieces.push_back(p);
        ASSERT_EQ(pieces.size(), 3u) << serial;
        EXPECT_FALSE(pieces[0].frame);
        EXPECT_TRUE(pieces[1].frame && pieces[1].crc_ok);
        EXPECT_TRUE(pieces[2].frame && !pieces[2].crc_ok);
        EXPECT_EQ(zr::sim::describe_frame(pieces[1], zr::sim::Direction::to_host),
                  "RESET/TEST_MODE: status 0x00 (ok); CRC good");
        EXPECT_NE(zr::sim::describe_frame(pieces[2], zr::sim::Direction::to_host).find("CRC BAD (should be D2 2D)"),
                  std::string::npos);
    }
}

// The shipped transcripts were recorded with the analyser between zrtool and zrsim (`demo`
// over TCP, `params dump` over serial); replayed, the same command gets the same answers, and
// a changed request is reported.
TEST(Replay, ShippedTranscriptsReplayAndAChangedRequestIsReported) {
    const struct {
        const char* file;
        bool serial;
        std::vector<const char*> same, changed;
    } cases[] = {
        {"demo_tcp.txt", false, {"demo"}, {"demo", "--tag-id", "E200341201020302"}},
        {"params_serial.txt", true, {"params", "dump"}, {"reset"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::ifstream in(std::string(ZR_TRANSCRIPT_DIR) + "/" + c.file);
        std::stringstream text;
        text << in.rdbuf();
        std::vector<zr::sim::Recorded> recorded;
        std::string error;
        ASSERT_TRUE(zr::sim::parse_transcript(text.str(), recorded, error)) << error;
        ASSERT_GT(recorded.size(), 10u);

        for (const auto* args : {&c.same, &c.changed}) {
            zr::sim::Replay replay(recorded);
            zr::sim::Simulator reader;
            reader.with_model([&](zr::sim::ReaderModel& m) { replay.install(m); });
            std::string where = SimHost::unique_address();
            if (c.serial) ASSERT_TRUE(reader.open_pty(where, error)) << error;
            else ASSERT_TRUE(reader.listen_tcp(where, 7086, error)) << error;
            reader.start();
            std::vector<std::string> argv = {ZRTOOL_PATH, c.serial ? "--serial" : "--tcp", where};
            argv.insert(argv.end(), args->begin(), args->end());
            ChildOptions quiet;
            quiet.out = Sink::null;
            quiet.err = Sink::inherit;
            const int status = Child(argv, quiet).wait();
            reader.stop();
            if (args == &c.same) {
                EXPECT_EQ(status, 0);
                EXPECT_EQ(replay.differences(), std::vector<std::string>{});
                EXPECT_EQ(replay.requests_left(), 0);
            } else {
                ASSERT_FALSE(replay.differences().empty());
                EXPECT_NE(replay.differences()[0].find("differs: recorded"), std::string::npos)
                    << replay.differences()[0];
            }
        }
    }
}
