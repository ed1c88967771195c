// zrtool encode against a field of 20 simulated tags: only the chosen tag changes, a tag that
// is not there or a selection that does not hold is refused before anything is written, and
// an encoding that does not read back as written exits 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child.h"
#include "population.h"
#include "sim_fixture.h"

#ifndef ZRTOOL_PATH
#error "ZRTOOL_PATH must name the zrtool binary"
#endif

using namespace zr::test;
using zr::sim::Bytes;
using zr::sim::Fault;
using zr::sim::FaultKind;
using zr::sim::ReaderModel;

namespace {

constexpr std::size_t kTags = 20, kTarget = 10;
const std::string kNewEpc = "300833B2DDD90140000000AA";

struct TagState {
    Bytes epc, user;
    std::uint8_t locked = 0;
    bool operator==(const TagState&) const = default;
};

std::string hex(const Bytes& b) {
    std::string s;
    char buf[3];
    for (auto x : b) std::snprintf(buf, sizeof buf, "%02X", x), s += buf;
    return s;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// zrtool opens the link itself (GetParam(): the section "tcp" or "serial" of the host's INI).
class Encode : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override { new_field(); }
    // The default population's first 20 tags, as zrsim's control lines bring them in.
    void new_field() {
        std::vector<std::string> lines{"clear"};
        for (std::size_t i = 0; i < kTags; ++i) lines.push_back("add " + hex(zr::sim::default_tag(i).epc));
        host.field(lines);
    }
    std::vector<TagState> field() {
        return host.sim().with_model([](ReaderModel& m) {
            std::vector<TagState> out;
            for (const auto& t : m.tags) out.push_back({t.epc, t.user, t.locked_regions});
            return out;
        });
    }
    std::string epc(std::size_t i) { return hex(field()[i].epc); }
    std::string id(std::size_t i) {
        return host.sim().with_model(
            [&](ReaderModel& m) { return hex(Bytes(m.tags[i].id.begin(), m.tags[i].id.end())); });
    }
    Ran zrtool(std::vector<std::string> args) {
        args.insert(args.begin(), {ZRTOOL_PATH, "--config", host.ini(), "--section", GetParam(), "encode"});
        return run(args);
    }
    SimHost host;
};

TEST_P(Encode, OnlyTheChosenTagChanges) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool new_epc;
    };
    const Case cases[] = {
        {"by EPC, new EPC, user data, EPC locked",
         {"--by-epc", epc(kTarget), "--epc", kNewEpc, "--user", "4:C0FFEE01", "--lock", "epc"},
         true},
        {"by identifier, user data", {"--by-id", id(kTarget), "--user", "4:C0FFEE01"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        new_field();
        const auto before = field();
        auto r = zrtool(c.args);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, ": ok (read back and compared)")) << r.out;
        const auto after = field();
        for (std::size_t i = 0; i < kTags; ++i) {
            if (i == kTarget) continue;
            EXPECT_EQ(after[i], before[i]) << "tag " << i << " changed";
        }
        auto expected = before[kTarget];
        if (c.new_epc) {
            expected.epc = {0x30, 0x08, 0x33, 0xB2, 0xDD, 0xD9, 0x01, 0x40, 0x00, 0x00, 0x00, 0xAA};
            expected.locked = 1 << 2;  // region 2: the EPC
        }
        const Bytes written{0xC0, 0xFF, 0xEE, 0x01};
        std::copy(written.begin(), written.end(), expected.user.begin() + 8);  // word 4
        EXPECT_EQ(hex(after[kTarget].epc), hex(expected.epc));
        EXPECT_EQ(after[kTarget], expected);
        // The reader is left with the whole field answering.
        EXPECT_FALSE(host.sim().with_model([](ReaderModel& m) { return m.selection.active; }));
    }
}

TEST_P(Encode, IsRefusedWhenTheTagIsMissingOrTheSelectionDoesNotHold) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* cause;
    };
    const Case cases[] = {
        {"EPC not in the field", {"--by-epc", "300833B2DDD90140000000FF", "--epc", kNewEpc}, "no tag with EPC"},
        {"identifier not in the field", {"--by-id", "E2003412010203FF", "--user", "0:0102"}, "not in the field"},
        {"EPC prefix of many tags", {"--by-epc", "300833B2", "--epc", kNewEpc}, "cannot single one out"},
        // Two tags share the identifier: both answer under the selection.
        {"identifier of two tags", {"--by-id", id(kTarget), "--user", "0:0102"}, "the selection does not hold: 2 tags"},
        {"new EPC already in the field", {"--by-epc", epc(kTarget), "--epc", epc(kTarget + 1)}, "already has EPC"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        new_field();
        if (std::string(c.name) == "identifier of two tags")
            host.sim().with_model([](ReaderModel& m) { m.tags[3].id = m.tags[kTarget].id; });
        const auto before = field();
        auto r = zrtool(c.args);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, ": refused")) << r.out;
        EXPECT_TRUE(contains(r.out, c.cause)) << r.out;
        EXPECT_EQ(field(), before);
        EXPECT_FALSE(host.sim().with_model([](ReaderModel& m) { return m.selection.active; }));
    }
}

TEST_P(Encode, AWriteOrReadBackThatFailsExitsOne) {
    struct Case {
        int code;
        Fault fault;
        const char* cause;
    };
    const Case cases[] = {
        {0x83, {FaultKind::drop}, "writing the EPC"},
        {0x84, {FaultKind::status, 0x05}, "read-back of user memory at word 4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cause);
        new_field();
        host.sim().clear_faults();
        host.sim().set_fault(c.code, c.fault);
        auto r = zrtool({"--by-epc", epc(kTarget), "--epc", kNewEpc, "--user", "4:C0FFEE01"});
        host.sim().clear_faults();
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        EXPECT_TRUE(contains(r.out, ": failed")) << r.out;
        EXPECT_TRUE(contains(r.out, c.cause)) << r.out;
    }
}

TEST_P(Encode, BatchWritesAReportLineForEachTag) {
    const std::string csv = host.write_file("tags.csv",
                                            "by,tag,new epc,user\n"
                                            "by-epc," +
                                                epc(2) +
                                                ",300833B2DDD90140000000A2,0:1111\n"
                                                "by-epc,300833B2DDD90140000000FF,300833B2DDD90140000000A3,\n"
                                                "by-id," +
                                                id(kTarget) + ",,2:2222,6:3333\n");
    const std::string report = host.write_file("report.csv", "");
    auto r = zrtool({"--batch", csv, "--report", report});
    EXPECT_EQ(r.status, 1) << r.out << r.err;  // one tag was not there
    EXPECT_TRUE(contains(r.out, "encode: 2 of 3 tags encoded and verified")) << r.out;
    EXPECT_FALSE(contains(r.out, "\r")) << "a progress bar outside a terminal";
    std::ifstream in(report);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "tag,result,time_ms,cause");
    EXPECT_TRUE(contains(lines[1], "by-epc:300833B2DDD9014000000003,ok,")) << lines[1];
    EXPECT_TRUE(contains(lines[2], "by-epc:300833B2DDD90140000000FF,refused,")) << lines[2];
    EXPECT_TRUE(contains(lines[2], "no tag with EPC")) << lines[2];
    EXPECT_TRUE(contains(lines[3], "by-id:" + id(kTarget) + ",ok,")) << lines[3];
    const auto after = field();
    EXPECT_EQ(hex(after[2].epc), "300833B2DDD90140000000A2");
    EXPECT_EQ(hex(Bytes(after[2].user.begin(), after[2].user.begin() + 2)), "1111");
    EXPECT_EQ(hex(Bytes(after[kTarget].user.begin() + 4, after[kTarget].user.begin() + 6)), "2222");
    EXPECT_EQ(hex(Bytes(after[kTarget].user.begin() + 12, after[kTarget].user.begin() + 14)), "3333");
}

INSTANTIATE_TEST_SUITE_P(Links, Encode, ::testing::Values("tcp", "serial"), link_name);

}  // namespace
