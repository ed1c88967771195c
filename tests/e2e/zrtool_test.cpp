// zrtool as a user runs it: the binary as a child process, against the simulator hosted by
// the test (so that the test sees what reached the reader) or its own --simulate.
#include <gtest/gtest.h>

#include <signal.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child.h"
#include "protocol/hex.h"
#include "sim_fixture.h"

#ifndef ZRTOOL_PATH
#error "ZRTOOL_PATH must name the zrtool binary"
#endif

using namespace zr::test;
using zr::sim::Fault;
using zr::sim::FaultKind;

namespace {

// Runs zrtool with `args`, feeding `input` on its standard input. A child that hangs is killed.
Ran zrtool(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> argv{ZRTOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, input);
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

// A strict little JSON reader, enough to hold the tool's --json output to the grammar.
struct J {
    enum Kind { null, boolean, number, string, array, object } kind = null;
    bool b = false;
    double n = 0;
    std::string s;
    std::vector<J> a;
    std::map<std::string, J> o;
    const J& operator[](const std::string& key) const {
        static const J none;
        auto it = o.find(key);
        return it == o.end() ? none : it->second;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& t) : t_(t) {}
    bool document(J& out) {
        if (!value(out)) return false;
        space();
        return i_ == t_.size();
    }

private:
    void space() {
        while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_]))) ++i_;
    }
    bool literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (t_.compare(i_, n, word) != 0) return false;
        i_ += n;
        return true;
    }
    bool str(std::string& out) {
        if (t_[i_] != '"') return false;
        for (++i_; i_ < t_.size(); ++i_) {
            const char c = t_[i_];
            if (c == '"') {
                ++i_;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c == '\\') {
                if (++i_ >= t_.size()) return false;
                const char e = t_[i_];
                if (e == 'u') {
                    if (i_ + 4 >= t_.size()) return false;
                    for (int k = 1; k <= 4; ++k)
                        if (!std::isxdigit(static_cast<unsigned char>(t_[i_ + k]))) return false;
                    out += '?';
                    i_ += 4;
                } else if (std::strchr("\"\\/bfnrt", e)) {
                    out += e;
                } else {
                    return false;
                }
            } else {
                out += c;
            }
        }
        return false;
    }
    bool value(J& v) {
        space();
        if (i_ >= t_.size()) return false;
        const char c = t_[i_];
        if (c == '{') {
            v.kind = J::object;
            ++i_;
            space();
            if (i_ < t_.size() && t_[i_] == '}') return ++i_, true;
            for (;;) {
                space();
                std::string key;
                if (i_ >= t_.size() || !str(key)) return false;
                space();
                if (i_ >= t_.size() || t_[i_++] != ':') return false;
                if (!value(v.o[key])) return false;
                space();
                if (i_ >= t_.size()) return false;
                if (t_[i_] == ',') ++i_;
                else if (t_[i_] == '}') return ++i_, true;
                else return false;
            }
        }
        if (c == '[') {
            v.kind = J::array;
            ++i_;
            space();
            if (i_ < t_.size() && t_[i_] == ']') return ++i_, true;
            for (;;) {
                v.a.emplace_back();
                if (!value(v.a.back())) return false;
                space();
                if (i_ >= t_.size()) return false;
                if (t_[i_] == ',') ++i_;
                else if (t_[i_] == ']') return ++i_, true;
                else return false;
            }
        }
        if (c == '"') return v.kind = J::string, str(v.s);
        if (literal("true")) return v.kind = J::boolean, v.b = true, true;
        if (literal("false")) return v.kind = J::boolean, true;
        if (literal("null")) return true;
        std::size_t end = i_;
        if (end < t_.size() && t_[end] == '-') ++end;
        const std::size_t digits = end;
        while (end < t_.size() && std::isdigit(static_cast<unsigned char>(t_[end]))) ++end;
        if (end == digits) return false;
        v.kind = J::number;
        v.n = std::stod(t_.substr(i_, end - i_));
        i_ = end;
        return true;
    }
    const std::string& t_;
    std::size_t i_ = 0;
};

J parse_json(const std::string& text) {
    J j;
    EXPECT_TRUE(JsonReader(text).document(j)) << "not one JSON document: " << text;
    return j;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(Zrtool, UsageErrorsSayWhatIsWrongAndExitTwo) {
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{}, "no verb given"},
        {{"frobnicate"}, "unknown verb 'frobnicate'"},
        {{"--frobnicate", "reset"}, "unknown option '--frobnicate'"},
        {{"reset"}, "no reader given"},
        {{"--simulate", "--tcp", "127.0.0.1", "reset"}, "give only one of"},
        {{"--simulate", "--serial", "/dev/ttyS0", "reset"}, "--simulate brings its own serial port"},
        {{"--serial", "reset"}, "--serial needs a port name"},
        {{"--config", "zr.ini", "reset"}, "--config needs --section"},
        {{"--tcp"}, "--tcp needs a value"},
        {{"--tcp", "127.0.0.1:99999", "reset"},
         "--tcp wants ADDRESS or ADDRESS:PORT with PORT 1 to 65535, not '127.0.0.1:99999'"},
        {{"--simulate", "reset", "--antenna", "1"}, "reset has no option '--antenna'"},
        {{"--simulate", "reset", "extra"}, "reset takes no argument 'extra'"},
        {{"--simulate", "demo", "--tag-id", "E200"}, "--tag-id wants 8 bytes (16 hex digits), not 2"},
        {{"--simulate", "demo", "--tag-id", "E2003412010203XY"}, "--tag-id wants bytes in hex"},
        {{"--simulate", "demo", "--tag-id", "E200341201020301", "--tag-id", "E200341201020302"}, "given twice"},
        {{"decode"}, "decode wants frames in hex"},
        {{"decode", "0"}, "decode wants frames in hex"},
        {{"decode", "--device-class", "256", "00"}, "--device-class wants a byte, 0-255"},
        {{"decode", "--device-class", "4", "00"}, "--device-class wants 1, 2 or 3"},
        {{"decode", "--as", "answer", "00"}, "--as wants request, reply or both"},
        {{"--simulate", "inventory", "--rounds", "3"}, "--rounds works with --watch only"},
        {{"--simulate", "inventory", "--watch", "--interval", "-5"}, "--interval wants 0 to 3600000, not -5"},
        {{"--simulate", "inventory", "--watch", "--rounds", "-1"}, "--rounds wants 0 to"},
        {{"--device-class", "4", "--simulate", "reset"}, "--device-class wants 1, 2 or 3"},
        {{"--timing", "sometimes", "--simulate", "reset"}, "--timing wants fixed or whole, not 'sometimes'"},
        {{"--simulate", "encode", "--by-tid", "E280110520007001", "--epc", "3008"}, "cannot select a tag by its TID"},
        {{"--simulate", "encode", "--epc", "3008"}, "give one of --by-epc, --by-id and --by-tid"},
        {{"--simulate", "encode", "--by-epc", "3008", "--user", "0:ABC"}, "whole 16-bit words"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        auto r = zrtool(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        EXPECT_EQ(r.out, "");
        // Under --json the error is also a document on standard output.
        auto args = c.args;
        args.push_back("--json");
        auto j = zrtool(args);
        EXPECT_EQ(j.status, 2);
        EXPECT_FALSE(parse_json(j.out)["usage_error"].s.empty()) << j.out;
    }
}

TEST(Zrtool, ResetReachesTheReaderAndPrintsTheResultAndItsMeaning) {
    SimHost host;
    std::string error;
    ASSERT_TRUE(host.sim().listen_tcp(host.address(), 7087, error)) << error;  // for --tcp ADDRESS:PORT
    struct Case {
        const char* name;
        std::vector<std::string> connection;
        std::optional<Fault> fault;
        const char* line;
        int status;
    };
    const Case cases[] = {
        {"tcp", {"--tcp", host.address()}, {}, "reset: 1 ok\n", 0},
        {"tcp port", {"--tcp", host.address() + ":7087"}, {}, "reset: 1 ok\n", 0},
        {"serial", {"--serial", host.pty()}, {}, "reset: 1 ok\n", 0},
        {"config", {"--config", host.ini(), "--section", "tcp"}, {}, "reset: 1 ok\n", 0},
        {"status 0x04", {"--tcp", host.address()}, Fault{FaultKind::status, 0x04}, "reset: 1004 reader status 0x04\n", 1},
        {"no reply", {"--tcp", host.address()}, Fault{FaultKind::drop},
         "reset: -4 no valid reply\n  cause: no reply to RESET/TEST_MODE (0x67)\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.sim().clear_requests();
        host.sim().clear_faults();
        if (c.fault) host.sim().set_fault(0x67, *c.fault);
        auto args = c.connection;
        args.push_back("reset");
        auto r = zrtool(args);
        EXPECT_EQ(r.out, c.line);
        EXPECT_EQ(r.status, c.status) << r.err;
        auto requests = host.sim().requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0], (zr::sim::Bytes{0x00, 0x01, 0x67}));
    }
}

TEST(Zrtool, SimulateNeedsNoReaderOnEitherLink) {
    for (auto link : {std::vector<std::string>{"--simulate"}, std::vector<std::string>{"--simulate", "--serial"}}) {
        link.push_back("reset");
        auto r = zrtool(link);
        EXPECT_EQ(r.out, "reset: 1 ok\n");
        EXPECT_EQ(r.status, 0) << r.err;
    }
    auto demo = zrtool({"--simulate", "demo"});
    EXPECT_EQ(demo.status, 0) << demo.out << demo.err;
    EXPECT_TRUE(contains(demo.out, "reset the reader (ZRReset): 1 ok")) << demo.out;
    // --trace shows the frames on standard error, leaving the result alone.
    auto trace = zrtool({"--simulate", "--trace", "reset"});
    EXPECT_EQ(trace.out, "reset: 1 ok\n");
    EXPECT_TRUE(contains(trace.err, "00 01 67 07 52")) << trace.err;
    // The library's own trace: the request as sent and the reply it accepted.
    EXPECT_TRUE(contains(trace.err, "| -> | 00 01 67 07 52 | 00 01 67 07 52 | RESET/TEST_MODE | sent")) << trace.err;
    EXPECT_TRUE(contains(trace.err, "| <- | 00 04 67 00 02 10 61 91 | 00 04 67 00 02 10 61 91 | RESET/TEST_MODE | accepted"))
        << trace.err;
}

// --timing is set on the session between the open and the verb's command.
TEST(Zrtool, TimingWholeIsSetBeforeTheCommand) {
    auto r = zrtool({"--simulate", "--trace", "--timing", "whole", "reset"});
    EXPECT_EQ(r.out, "reset: 1 ok\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const auto set = r.err.find("| reply timing: whole");
    ASSERT_NE(set, std::string::npos) << r.err;
    EXPECT_LT(set, r.err.find("| RESET/TEST_MODE | sent")) << r.err;
}

// An open that fails leads with the library's cause, the result's generic text after it; a
// ZR_ key the library does not know is warned about with the key it most likely means.
TEST(Zrtool, AFailedOpenLeadsWithTheCauseAndAnUnknownKeyIsWarnedAbout) {
    auto r = zrtool({"--tcp", SimHost::unique_address(), "reset"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.out, "-12 the TCP connection did not come up")) << r.out << r.err;

    SimHost host;
    const std::string ini =
        host.write_file("zrtool_keys.ini",
                        "[r]\nZR_PORT_TYPE=SERIAL\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=127.0.0.1\nZR_ANTENA_CONCTL=1\n");
    auto bad = zrtool({"--config", ini, "--section", "r", "reset"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out.rfind("open [r] of " + ini + ": ZR_PORT_TYPE 'SERIAL' is neither COM nor TCP\n", 0), 0u)
        << bad.out;
    EXPECT_TRUE(contains(bad.err, "warning: ZR_ANTENA_CONCTL in [r] of " + ini +
                                      " is no key the library knows (did you mean ZR_ANTENNA_CONCTL?)"))
        << bad.err;
}

// The reader's "no tag" status is an answer: 0 tags and success. A reader that sends nothing
// at all after the start is a failure with that cause, not an empty field.
TEST(Zrtool, InventoryTellsAnEmptyFieldFromASilentReader) {
    struct Row {
        const char* field;
        std::function<void(SimHost&)> set_up;
        const char* says;
        int status;
    } rows[] = {
        {"three tags", [](SimHost&) {}, "inventory: 3 tags", 0},
        {"empty", [](SimHost& host) { host.field({"clear"}); }, "then 3002 reader status 0x61", 0},
        {"silent", [](SimHost& host) { host.sim().set_fault(0x81, Fault{FaultKind::drop}); },
         "cause: the reader did not answer the inventory", 1},
    };
    for (const auto& row : rows) {
        SimHost host;
        row.set_up(host);
        for (const bool serial : {false, true}) {
            SCOPED_TRACE(std::string(row.field) + (serial ? " serial" : " tcp"));
            auto r = zrtool({serial ? "--serial" : "--tcp", serial ? host.pty() : host.address(), "inventory"});
            EXPECT_EQ(r.status, row.status) << r.out << r.err;
            EXPECT_TRUE(contains(r.out, row.says)) << r.out;
            auto j = parse_json(
                zrtool({serial ? "--serial" : "--tcp", serial ? host.pty() : host.address(), "--json", "inventory"})
                    .out);
            EXPECT_EQ(j["success"].b, row.status == 0);
        }
    }
}

// watch --events: a line when a tag first answers, and one when it has not answered for the
// window; the simulator's field changes under the running watch.
TEST(Zrtool, WatchEventsShowArrivalsAndDepartures) {
    SimHost host;
    const std::string epc = "30 08 33 B2 DD D9 01 40 00 00 00 ", gone = epc + "02", fresh = epc + "77";
    Child watch({ZRTOOL_PATH, "--tcp", host.address(), "inventory", "--watch", "--events", "--window", "300",
                 "--interval", "50"});
    for (int i = 0; i < 3; ++i) ASSERT_NE(watch.line_with(" arrived "), "") << watch.out();

    host.field({"remove 300833B2DDD9014000000002"});
    EXPECT_TRUE(contains(watch.line_with(" departed "), gone)) << watch.out();
    host.field({"add 300833B2DDD9014000000077"});
    EXPECT_TRUE(contains(watch.line_with(" arrived "), fresh)) << watch.out();
    watch.signal(SIGINT);
    EXPECT_EQ(watch.wait(), 0) << watch.out();
}

TEST(Zrtool, DecodesTheWorkedExamples) {
    struct Case {
        const char* input;
        std::vector<const char*> lines;
        int status;
    };
    const Case cases[] = {
        {"00 01 61 07 46", {"command:    0x61 POWER_OFF", "crc:        07 46 good", "request:    no parameters"}, 0},
        {"55 00 01 61 07 46", {"serial:     start byte and stuffing removed", "frame 1: 00 01 61 07 46", "07 46 good"}, 0},
        {"00 02 61 00 C6 2D", {"LEN 2, 6 bytes", "C6 2D good", "as reply:   status 0x00 -> 1 ok; data none"}, 0},
        {"00 02 67 00 D2 2D", {"0x67 RESET/TEST_MODE", "D2 2D good", "status 0x00 -> 1 ok"}, 0},
        {"00 03 71 01 00 BC D7",
         {"0x71 IDENTIFY", "BC D7 good", "as request: parameters 01 00", "status 0x01 -> 1001 reader status 0x01"}, 0},
        // Several frames in one input, one after another.
        {"000161 0746 00026700D22D", {"frame 1: 00 01 61 07 46", "frame 2: 00 02 67 00 D2 2D"}, 0},
        // A stuffed byte on the line: 55 inside a frame goes as 56 56, 56 as 56 57.
        {"55 00 03 71 56 56 56 57 ", {}, 1},
        {"00 02 67 01 D2 2D", {"D2 2D BAD (the bytes before it give", "problem:    CRC does not match"}, 1},
        {"00 02 67 00", {"truncated: LEN says 6 bytes, 4 present"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        auto args = words(c.input);
        args.insert(args.begin(), "decode");
        auto r = zrtool(args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        for (const char* line : c.lines) EXPECT_TRUE(contains(r.out, line)) << line << "\n" << r.out;
    }
    // Stuffing removed: the payload 00 03 71 55 56 with its CRC, written to the line stuffed.
    auto wire = zr::sim::serial_wire({0x00, 0x03, 0x71, 0x55, 0x56});
    auto r = zrtool({"decode", zr::sim::hex(wire)});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(contains(r.out, "frame 1: 00 03 71 55 56 ")) << r.out;
    EXPECT_TRUE(contains(r.out, "parameters 55 56")) << r.out;
    // Standard input, and the class 1/2 table.
    r = zrtool({"decode", "--as", "reply", "--device-class", "1", "-"}, zr::sim::hex(zr::sim::with_crc({0, 2, 0x72, 0x90})));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "reply:      status 0x90 -> 4001 reader status 0x90")) << r.out;
}

TEST(Zrtool, JsonOutputIsOneDocumentWithTheResult) {
    auto reset = parse_json(zrtool({"--simulate", "--json", "reset"}).out);
    EXPECT_EQ(reset["verb"].s, "reset");
    EXPECT_EQ(reset["function"].s, "ZRReset");
    EXPECT_EQ(reset["result"].n, 1);
    EXPECT_EQ(reset["text"].s, "ok");
    EXPECT_TRUE(reset["success"].b);

    auto failed = zrtool({"--json", "--tcp", SimHost::unique_address(), "reset"});
    EXPECT_EQ(failed.status, 1);
    auto open = parse_json(failed.out);
    EXPECT_EQ(open["function"].s, "ZROpen");
    EXPECT_EQ(open["result"].n, -12);
    EXPECT_FALSE(open["success"].b);

    auto decoded = parse_json(zrtool({"--json", "decode", "55", "00", "03", "71", "01", "00", "BC", "D7"}).out);
    ASSERT_EQ(decoded["frames"].a.size(), 1u);
    const auto& f = decoded["frames"].a[0];
    EXPECT_EQ(f["name"].s, "IDENTIFY");
    EXPECT_TRUE(f["crc_ok"].b);
    EXPECT_TRUE(f["serial"].b);
    EXPECT_EQ(f["request"]["parameters"].s, "01 00");
    EXPECT_EQ(f["reply"]["result"].n, 1001);
    EXPECT_EQ(f["reply"]["text"].s, "reader status 0x01: unknown command");

    auto demo = parse_json(zrtool({"--simulate", "--json", "demo"}).out);
    EXPECT_TRUE(demo["success"].b);
    ASSERT_FALSE(demo["steps"].a.empty());
    EXPECT_EQ(demo["steps"].a[0]["function"].s, "ZRReset");

    // --watch: one document per round, each with the verb and its result.
    auto watch = zrtool({"--simulate", "--json", "inventory", "--watch", "--rounds", "2", "--interval", "0"});
    std::istringstream lines(watch.out);
    int rounds = 0;
    for (std::string line; std::getline(lines, line); ++rounds) {
        auto j = parse_json(line);
        EXPECT_EQ(j["verb"].s, "inventory");
        EXPECT_EQ(j["round"].n, rounds + 1);
        EXPECT_EQ(j["result"].n, 0);
        EXPECT_TRUE(j["success"].b);
        EXPECT_EQ(j["tags"].a.size(), 3u);
    }
    EXPECT_EQ(rounds, 2);

    // Bytes that are not UTF-8 (a Latin-1 path) leave as escapes: the output stays ASCII.
    auto odd = zrtool({"--config", "/nonexistent/\xff\xc3\xa9.ini", "--section", "r", "--json", "reset"});
    EXPECT_TRUE(contains(odd.out, "\\u00FF\\u00E9.ini")) << odd.out;
    for (unsigned char c : odd.out) EXPECT_LT(c, 0x80);
    parse_json(odd.out);
}

// A class 1 reader reports its errors under other status bytes: with --device-class (or the
// settings' ZRTOOL_DEVICE_CLASS) zrtool reads them as the reader means them.
TEST(Zrtool, TheDeviceClassReachesTheLibraryAndTheSimulator) {
    SimHost host;
    host.sim().with_model([](zr::sim::ReaderModel& m) { m.device_class = 1; });
    // In the host's own directory: a fixed name under /tmp is shared with every other run.
    const std::string ini = host.write_file(
        "zrtool_class.ini", "[r]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=" + host.address() +
                                "\nZRTOOL_DEVICE_CLASS=1 ; class 1 reader\n");
    const std::vector<std::string> args[] = {
        {"--simulate", "--device-class", "1", "read-user-data", "--tag-id", "0000000000000000"},
        {"--tcp", host.address(), "--device-class", "1", "read-user-data", "--tag-id", "0000000000000000"},
        {"--config", ini, "--section", "r", "read-user-data", "--tag-id", "0000000000000000"},
    };
    for (const auto& a : args) {
        SCOPED_TRACE(a[0]);
        auto r = zrtool(a);
        EXPECT_TRUE(contains(r.out, "read-user-data: 4002 reader status 0x91")) << r.out << r.err;  // no tag
    }
    auto inventory = zrtool({"--tcp", host.address(), "--device-class", "1", "inventory"});
    EXPECT_EQ(inventory.status, 0) << inventory.out;
    EXPECT_TRUE(contains(inventory.out, "inventory: 3 tags")) << inventory.out;

    // net-addr-set records the address in the section the session uses, nowhere else.
    auto set = zrtool({"--config", ini, "--section", "r", "net-addr-set", "--ip", "192.0.2.77", "--gateway", "192.0.2.1"});
    EXPECT_EQ(set.status, 0) << set.out << set.err;
    std::ifstream in(ini);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(contains(text, "ZR_HOST_NAME=192.0.2.77")) << text;
    EXPECT_FALSE(contains(text, "[zrtool]")) << text;
}

// The tour on a tag that is not there: the read fails, so nothing is written to it, and the
// steps that would have written say they were skipped.
TEST(Zrtool, DemoWritesNothingAfterAFailedRead) {
    auto r = zrtool({"--simulate", "--trace", "--json", "demo", "--tag-id", "0000000000000000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(contains(r.err, "WRITE_USER_DATA")) << r.err;
    int skipped = 0;
    const auto doc = parse_json(r.out);  // kept: the loop reads into it
    for (const auto& step : doc["steps"].a) skipped += !step["skipped"].s.empty();
    EXPECT_EQ(skipped, 3);
}

// Every verb has help with an example, and every example succeeds as it is written, the
// simulator's trace showing that each command verb reached the reader.
TEST(Zrtool, EveryVerbHasHelpAndItsExampleSucceeds) {
    auto global = zrtool({"--help"});
    EXPECT_EQ(global.status, 0);
    auto listing = zrtool({"--help", "--json"});
    auto verbs = parse_json(listing.out)["verbs"].a;
    ASSERT_FALSE(verbs.empty());
    std::set<std::string> names;
    for (const auto& v : verbs) {
        const std::string name = v["name"].s;
        EXPECT_TRUE(names.insert(name).second) << "two verbs named " << name;
        SCOPED_TRACE(name);
        EXPECT_TRUE(contains(global.out, "    " + name + " ")) << "missing from zrtool --help";
        auto help = zrtool({name, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(contains(help.out, "Example:\n  zrtool ")) << help.out;

        // The options of the tool itself come first wherever they stand, so no verb may use them.
        for (const auto& a : v["args"].a)
            for (const char* global : {"help", "json", "trace", "simulate", "tcp", "serial", "config", "section", "timing"})
                EXPECT_NE(a["name"].s, global) << "--" << global << " is the tool's own option";

        auto example = words(v["example"].s);
        ASSERT_GE(example.size(), 2u);
        ASSERT_EQ(example[0], "zrtool");
        example.erase(example.begin());
        if (v["needs_session"].b) {
            ASSERT_EQ(example[0], "--simulate") << "an example that needs no reader of its own";
            example.insert(example.begin() + 1, "--trace");
        }
        auto r = zrtool(example);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        if (v["needs_session"].b && v["kind"].s != "tool") {
            EXPECT_TRUE(contains(r.err, "sim: <- ")) << "nothing reached the reader";
            EXPECT_TRUE(contains(r.out, name + ": ")) << r.out;
        }
    }
}

// A parameter file round trip: dump, edit, load writes only what changed, and the reader then
// dumps as the edited file.
TEST(Zrtool, ParamsDumpLoadDiffRoundTrip) {
    SimHost host;
    const std::string file = host.write_file("zrtool_params.txt", "");  // not /tmp: parallel runs share it
    const std::vector<std::string> tcp = {"--tcp", host.address()};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), tcp.begin(), tcp.end());
        return zrtool(args);
    };
    ASSERT_EQ(run({"params", "dump", file}).status, 0);
    std::ifstream in(file);
    std::string text((std::istreambuf_iterator<char>(in)), {}), edited;
    for (auto [from, to] : {std::pair{"power = 1E 1E", "power = 10 20"}, {"\n0x40 = 00 00 00", "\n0x40 = AB CD 00"},
                            {"gateway = 192.168.1.1", "gateway = 192.168.1.254"}}) {
        ASSERT_TRUE(contains(text, from)) << from << "\n" << text;
        text.replace(text.find(from), std::strlen(from), to);
    }
    std::ofstream(file) << text;

    host.sim().clear_requests();
    auto dry = run({"params", "load", "--dry-run", file});
    EXPECT_EQ(dry.status, 0) << dry.out << dry.err;
    EXPECT_TRUE(contains(dry.out, "params load: 2 differences, nothing written")) << dry.out;
    auto diff = run({"params", "diff", file});
    EXPECT_EQ(diff.status, 1);
    EXPECT_TRUE(contains(diff.out, "power: 1E 1E -> 10 20")) << diff.out;
    auto writes = [&] {
        int n = 0;
        for (const auto& r : host.sim().requests()) n += r[2] == 0x63 || r[2] == 0x65;
        return n;
    };
    EXPECT_EQ(writes(), 0) << "a dry run or a diff writes nothing";

    // The network identity is the reader's own: load leaves it unless asked.
    auto load = run({"params", "load", file});
    EXPECT_EQ(load.status, 0) << load.out << load.err;
    EXPECT_TRUE(contains(load.out, "tag 0x40-0x41: 00 00 -> AB CD  1 ok")) << load.out;
    EXPECT_TRUE(contains(load.out, "192.168.1.254  skipped: the reader's network identity")) << load.out;
    EXPECT_EQ(writes(), 2);  // power, the two tag bytes
    EXPECT_EQ(run({"params", "diff", file}).status, 0);
    EXPECT_EQ(run({"params", "diff", "--with-network", file}).status, 1);
    auto network = run({"params", "load", "--with-network", file});
    EXPECT_EQ(network.status, 0) << network.out << network.err;
    EXPECT_EQ(writes(), 3);  // and now the network block: nothing else

    auto again = parse_json(run({"--json", "params", "dump"}).out);
    EXPECT_EQ(again["power"].s, "10 20");
    EXPECT_EQ(again["network"]["gateway"].s, "192.168.1.254");
    EXPECT_EQ(again["tag"]["0x40"].s.substr(0, 5), "AB CD");

    std::ofstream(file) << "[power]\npower = 1E\n";
    auto bad = run({"params", "load", file});
    EXPECT_EQ(bad.status, 2);
    EXPECT_TRUE(contains(bad.err, "line 2: power wants 2 bytes in hex")) << bad.err;
}

// Every exported command has its verb: the export list is the list of what must be reachable.
TEST(Zrtool, EveryExportedCommandHasAVerb) {
    std::set<std::string> functions;
    const J listing = parse_json(zrtool({"--help", "--json"}).out);
    for (const auto& v : listing["verbs"].a) functions.insert(v["function"].s);
    std::ifstream def(ZR_DEF_PATH);
    ASSERT_TRUE(def) << ZR_DEF_PATH;
    int exports = 0;
    for (std::string line; std::getline(def, line);) {
        auto w = words(line);
        if (w.size() != 1 || (w[0].rfind("ZR", 0) != 0 && w[0].rfind("_ZR", 0) != 0)) continue;
        std::string name = w[0];
        if (name[0] == '_') name = name.substr(1, name.find('@') - 1);  // _ZRTestModeSet@8
        ++exports;
        // Sessions are the connection options of every verb; result texts and causes are how
        // it prints; the version is zrtool --version, the trace callback zrtool --trace, the
        // reply timing zrtool --timing.
        if (name == "ZROpen" || name == "ZRClose" || name == "ZRResultText" || name == "ZRLastCause" ||
            name == "ZRVersion" || name == "ZRSetTraceCallback" || name == "ZRSetReplyTiming")
            continue;
        EXPECT_TRUE(functions.count(name)) << name << " has no verb";
    }
    EXPECT_GE(exports, 4);
}

// One session for all the lines of a script: a report collects what the identify of an earlier
// line started. The first failing line ends the run, unless --keep-going.
TEST(Zrtool, RunKeepsOneSessionAndStopsAtTheFirstFailure) {
    SimHost host;
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string script;
        int status;
        std::vector<std::string> out, err;
        std::vector<std::string> not_out;
    };
    const std::vector<Case> cases = {
        {"identify then report",
         {},
         "# split phase\nidentify --antenna 1\n\nreport   # the tags\ndecode '00 02 67 00 D2 2D'\n",
         0,
         {"identify: 7 bytes sent", "report: 1 ok\n  data: ", "status 0x00 -> 1 ok"},
         {},
         {}},
        {"a failing line stops",
         {},
         "reset\nreport\nreset\n",
         1,
         {"reset: 1 ok", "report: 0 no report waiting"},
         {"standard input line 2 failed: report"},
         {"reset: 1 ok\nreport: 0 no report waiting\nreset:"}},
        {"--keep-going goes on",
         {"--keep-going"},
         "reset\nreport\nno-such-verb\nreset\n",
         1,
         {"report: 0 no report waiting\nreset: 1 ok"},
         {"unknown verb 'no-such-verb'", "2 lines failed (2, 3)"},
         {}},
        {"an open quote", {}, "reset 'x\nreset\n", 1, {}, {"line 1: a ' is not closed"}, {"reset:"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"--tcp", host.address(), "run"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back("-");
        auto r = zrtool(args, c.script);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        for (const auto& s : c.out) EXPECT_TRUE(contains(r.out, s)) << s << "\n" << r.out;
        for (const auto& s : c.err) EXPECT_TRUE(contains(r.err, s)) << s << "\n" << r.err;
        for (const auto& s : c.not_out) EXPECT_FALSE(contains(r.out, s)) << s << "\n" << r.out;
    }
    // A file, named in the message.
    const std::string file = host.write_file("script.zr", "reset\nreset --antenna 1\n");
    auto r = zrtool({"--tcp", host.address(), "run", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, file + " line 2 failed: reset --antenna 1")) << r.err;
}

// The shell on a pipe: no prompt in the output, help, a split-phase pair, exit.
TEST(Zrtool, ShellFromAPipeRunsLinesOnOneSession) {
    SimHost host;
    auto r = zrtool({"--tcp", host.address(), "shell"}, "help\nhelp report\nidentify\nreport\nexit\nreset\n");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_FALSE(contains(r.out, "zrtool>")) << r.out;
    EXPECT_TRUE(contains(r.out, "  identify ")) << r.out;
    EXPECT_TRUE(contains(r.out, "usage: zrtool CONNECTION report")) << r.out;
    EXPECT_TRUE(contains(r.out, "report: 1 ok\n  data: ")) << r.out;
    EXPECT_FALSE(contains(r.out, "reset:")) << "a line after exit ran";
}

// Simulators on one /24, one of them on a second port of the same host, and a
// pseudo-terminal: each found, each confirmed by a query that only reads, each section usable.
TEST(Zrtool, ScanFindsReadersOnASubnetOnTwoPortsAndASerialPort) {
    SimHost a, b;
    const auto net = a.address().substr(0, a.address().rfind('.'));
    ASSERT_EQ(net, b.address().substr(0, b.address().rfind('.')));
    zr::sim::Simulator c;
    std::string error;
    ASSERT_TRUE(c.listen_tcp(a.address(), 7087, error)) << error;
    c.start();
    auto r = zrtool({"scan", "--subnet", net + ".0/24", "--tcp-ports", "7086,7087", "--ports", a.pty() + ",/dev/null"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    const std::string tcp = "ZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=";
    for (const auto& line : {tcp + a.address() + "\n\n", tcp + b.address() + "\n", tcp + a.address() + "\nZR_TCP_PORT=7087\n",
                             "ZR_PORT_TYPE=COM\nZR_COM_NUMBER=" + a.pty() + "\n"})
        EXPECT_TRUE(contains(r.out, line)) << line << "\n" << r.out;
    EXPECT_FALSE(contains(r.out, "/dev/null")) << r.out;
    EXPECT_TRUE(contains(r.out, "(bound ")) << r.out;
    EXPECT_TRUE(contains(r.out, "\n[reader4]\n")) << r.out;
    EXPECT_EQ(zrtool({"scan", "--tcp-ports", "7086,0"}).status, 2);
    for (auto* sim : {&a.sim(), &b.sim(), &c}) {
        const auto requests = sim->requests();
        EXPECT_FALSE(requests.empty());
        for (const auto& q : requests) EXPECT_EQ(q.at(2), 0xA0) << "a scan only asks for the reader's state";
    }
    c.stop();
}
