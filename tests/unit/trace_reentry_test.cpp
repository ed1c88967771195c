// A trace callback runs inside the call that holds the session whose line it is given: what
// it calls there on that session is refused at once, and the running call is left alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <string>

#include "fake_platform.h"
#include "zr.h"

using namespace zr::test;

namespace {

struct Case {
    const char* name;
    std::function<int(int& h)> call;  // made from inside the callback, on the traced handle
    std::string cause;                // what ZRLastCause says then ("%h" the handle)
};

// What the callback saw and did, on its first line.
struct Probe {
    FakePlatform* fake;
    Peer* peer;
    const Case* c;
    int h;
    bool called = false;
    int result = 0;
    std::string cause{};
    int handle_after = 0;
    std::size_t requests_before = 0, requests_after = 0;
    std::size_t sleeps_before = 0, sleeps_after = 0;
};

void ZR_CALL on_line(void* context, const char*) {
    auto& p = *static_cast<Probe*>(context);
    if (p.called) return;
    p.called = true;
    p.requests_before = p.peer->requests.size();
    p.sleeps_before = p.fake->sleeps.size();
    int h = p.h;
    p.result = p.c->call(h);
    p.cause = ZRLastCause();
    p.handle_after = h;
    p.requests_after = p.peer->requests.size();
    p.sleeps_after = p.fake->sleeps.size();
}

// Runs `f` on a thread of its own: a call that never returns fails the suite instead of
// hanging it (the stuck thread can be neither joined nor abandoned, hence the exit).
template <typename F>
auto bounded(F f) {
    auto done = std::async(std::launch::async, std::move(f));
    if (done.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
        std::fprintf(stderr, "a call did not return within 60 s: deadlocked\n");
        std::_Exit(1);
    }
    return done.get();
}

struct NoTraceCallback {
    ~NoTraceCallback() { ZRSetTraceCallback(nullptr, nullptr); }
};

}  // namespace

TEST(TraceReentry, CallsOnTheTracedHandleFromItsCallbackAreRefused) {
    const Case cases[] = {
        {"a command", [](int& h) { return ZRReset(h); },
         "handle %h: refused inside the trace callback of the call that holds it"},
        {"ZRClose", [](int& h) { return ZRClose(&h); },
         "handle %h: refused inside the trace callback of the call that holds it"},
        {"ZRSetTraceCallback", [](int&) { return ZRSetTraceCallback(nullptr, nullptr); },
         "ZRSetTraceCallback: refused inside a trace callback"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(kLinks[1]);
        rig.peer.reply_next({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
        Probe probe{.fake = &rig.fake, .peer = &rig.peer, .c = &c, .h = rig.h};
        const NoTraceCallback unset;
        ASSERT_EQ(ZRSetTraceCallback(on_line, &probe), ZR_OK);

        struct Outer {
            int result;
            std::string cause;
        };
        const Outer outer = bounded([&] {
            const int r = ZRReset(rig.h);
            return Outer{r, ZRLastCause()};
        });

        ASSERT_TRUE(probe.called);
        EXPECT_EQ(probe.result, ZR_ERR_INTERNAL);
        std::string cause = c.cause;
        if (auto at = cause.find("%h"); at != std::string::npos) cause.replace(at, 2, std::to_string(rig.h));
        EXPECT_EQ(probe.cause, cause);
        EXPECT_EQ(probe.handle_after, rig.h);
        EXPECT_EQ(probe.requests_after, probe.requests_before);  // nothing sent
        EXPECT_EQ(probe.sleeps_after, probe.sleeps_before);      // nothing waited for
        // The running call got its own reply, and the callback's failure is not its cause.
        EXPECT_EQ(outer.result, ZR_OK);
        EXPECT_EQ(outer.cause, "");
        EXPECT_EQ(rig.peer.requests.size(), 1u);
        EXPECT_EQ(ZRLinkState(rig.h), 1);  // still open
    }
}

// Calls on other handles run from the callback as from anywhere else, also while a session
// opens (its first line comes from inside ZROpen).
TEST(TraceReentry, CallsOnOtherHandlesFromTheCallbackRun) {
    struct Row {
        const char* name;
        std::function<int(FakePlatform& fake, int a)> outer;
    };
    const Row rows[] = {
        {"a command on another handle", [](FakePlatform&, int a) { return ZRReset(a); }},
        {"ZROpen", [](FakePlatform& fake, int) {
             fake.tcp("192.0.2.9");
             int h = -1;
             return open_fake(fake, "TCP", "192.0.2.9", h);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakePlatform fake;
        Peer& pa = fake.tcp("192.0.2.7");
        Peer& pb = fake.tcp("192.0.2.8");
        int a = -1, b = -1;
        ASSERT_EQ(open_fake(fake, "TCP", "192.0.2.7", a), ZR_OK);
        ASSERT_EQ(open_fake(fake, "TCP", "192.0.2.8", b), ZR_OK);
        pa.reply_next({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
        pb.reply_next({0x00, 0x04, 0x67, 0x00, 0x02, 0x10});
        const Case on_b{"ZRReset on the other handle", [](int& h) { return ZRReset(h); }, ""};
        Probe probe{.fake = &fake, .peer = &pb, .c = &on_b, .h = b};
        const NoTraceCallback unset;
        ASSERT_EQ(ZRSetTraceCallback(on_line, &probe), ZR_OK);

        EXPECT_EQ(bounded([&] { return row.outer(fake, a); }), ZR_OK);
        ASSERT_TRUE(probe.called);
        EXPECT_EQ(probe.result, ZR_OK);
        EXPECT_EQ(pb.requests.size(), 1u);
    }
}
