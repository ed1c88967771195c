// The simulator's fault plan and latencies as zrsim's --fault and --latency options build them.
#include <gtest/gtest.h>

#include "faults.h"
#include "latency.h"

using zr::sim::FaultKind;
using zr::sim::FaultPlan;

TEST(FaultPlan, CodesAndStatusAreHexAndFaultsForOneCommandQueueInOrder) {
    FaultPlan plan;
    std::string error;
    for (const char* spec : {"67:drop*1", "0x67:status=6A*2", "67:delay=200", "all:split=3,20*1"})
        ASSERT_TRUE(plan.parse(spec, error)) << spec << ": " << error;
    EXPECT_EQ(plan.describe(), (std::vector<std::string>{
                                   "all: split in 3, 20 ms apart (1 reply)",
                                   "0x67: drop (1 reply), then status 0x6A (2 replies), then delay 200 ms (every reply)"}));
    const FaultKind expected[] = {FaultKind::drop, FaultKind::status, FaultKind::status, FaultKind::delay, FaultKind::delay};
    for (auto kind : expected) {
        auto f = plan.take(0x67);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->kind, kind);
        if (kind == FaultKind::status) {
            EXPECT_EQ(f->value, 0x6A);
        }
    }
    EXPECT_EQ(plan.take(0x71)->kind, FaultKind::split);  // 'all' stands for the commands without their own
    EXPECT_FALSE(plan.take(0x71));
}

TEST(FaultPlan, RefusalsSayWhy) {
    const struct {
        const char* spec;
        const char* reason;
    } cases[] = {
        {"1FF:drop", "the command code is a byte in hex"},
        {"67", "expected CODE:KIND"},
        {"67:status=100", "status must be a byte"},
        {"67:delay=0x10", "bad value"},
        {"67:melt", "unknown kind 'melt'"},
    };
    for (const auto& c : cases) {
        FaultPlan plan;
        std::string error;
        EXPECT_FALSE(plan.parse(c.spec, error)) << c.spec;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    FaultPlan plan;
    std::string error;
    ASSERT_TRUE(plan.parse("67:drop", error));
    EXPECT_FALSE(plan.parse("67:delay=5", error));  // the drop above hits every reply
    EXPECT_NE(error.find("would never take effect"), std::string::npos) << error;
}

// Each option on top of "all=7": a good one sets its command's latency (a code's own wins over
// all, even 0), a refused one says why and leaves the plan as it was.
TEST(LatencyPlan, OptionsByCodeOrNameAndRefusals) {
    const struct {
        const char* option;
        std::uint8_t code;
        int ms, jitter;
        const char* refusal;
    } cases[] = {
        {"72=30", 0x72, 30, 0, nullptr},
        {"0x72=30~10", 0x72, 30, 10, nullptr},
        {"72=0", 0x72, 0, 0, nullptr},
        {"identify=40~20", 0x71, 40, 20, nullptr},
        {"Reset=5", 0x67, 5, 0, nullptr},
        {"RESET/TEST_MODE=5", 0x67, 5, 0, nullptr},
        {"all=3", 0x60, 3, 0, nullptr},
        {"72", 0x72, 7, 0, "expected CODE=MS"},
        {"zz=5", 0x72, 7, 0, "the command is a byte in hex"},
        {"172=5", 0x72, 7, 0, "the command is a byte in hex"},
        {"72=-1", 0x72, 7, 0, "whole numbers"},
        {"72=abc", 0x72, 7, 0, "whole numbers"},
        {"72=5~", 0x72, 7, 0, "whole numbers"},
        {"72=3600001", 0x72, 7, 0, "whole numbers"},
    };
    for (const auto& c : cases) {
        zr::sim::LatencyPlan plan;
        std::string error;
        ASSERT_TRUE(plan.parse("all=7", error));
        EXPECT_EQ(plan.parse(c.option, error), c.refusal == nullptr) << c.option;
        if (c.refusal) {
            EXPECT_NE(error.find(c.refusal), std::string::npos) << c.option << ": " << error;
        }
        const auto l = plan.find(c.code);
        ASSERT_TRUE(l) << c.option;
        EXPECT_EQ(l->ms, c.ms) << c.option;
        EXPECT_EQ(l->jitter_ms, c.jitter) << c.option;
    }
}
