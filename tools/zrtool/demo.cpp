// demo: a short guided tour, meant for the built-in simulator. Each step calls one command
// and prints its result; the tour goes on after a failed step so that every step shows, and
// the exit status tells whether all of them succeeded.
#include "demo.h"

#include <algorithm>
#include <cstdio>

#include "zr.h"

namespace zrtool {
namespace {

std::vector<DemoStep>& steps() {
    static std::vector<DemoStep> all;
    return all;
}

int run_demo(Call& call) {
    auto tour = steps();
    std::stable_sort(tour.begin(), tour.end(), [](const auto& a, const auto& b) { return a.order < b.order; });
    DemoContext ctx(call);
    auto results = Json::array();
    bool all_ok = true;
    if (!call.json()) std::printf("zrtool demo: %zu steps\n", tour.size());
    for (std::size_t i = 0; i < tour.size(); ++i) {
        const auto& step = tour[i];
        ctx.outputs = Json::object();
        ctx.skipped.clear();
        const int r = step.run(ctx);
        const bool skipped = !ctx.skipped.empty();
        const bool ok = !skipped && succeeded(r, step.kind);
        all_ok = all_ok && ok;
        if (call.json()) {
            auto j = Json::object();
            j.set("step", step.title);
            j.set("function", step.function);
            if (skipped) {
                j.set("skipped", ctx.skipped);
                j.set("success", false);
            } else {
                put_result(j, r, step.kind);
            }
            j.set("outputs", ctx.outputs);
            results.push(j);
        } else {
            std::printf("[%zu/%zu] %s (%s): %s\n", i + 1, tour.size(), step.title, step.function,
                        skipped ? ("skipped: " + ctx.skipped).c_str() : describe(r, step.kind).c_str());
            for (const auto& m : ctx.outputs.members()) std::printf("      %s: %s\n", m.key.c_str(), m.value.text().c_str());
        }
    }
    if (call.json()) {
        auto j = Json::object();
        j.set("verb", "demo");
        j.set("success", all_ok);
        j.set("steps", results);
        std::printf("%s\n", j.dump().c_str());
    } else {
        std::printf("%s\n", all_ok ? "demo: every step succeeded" : "demo: some steps failed");
    }
    return all_ok ? kExitOk : kExitFailed;
}

const DemoSteps kSessionSteps({
    {10, "reset the reader", "ZRReset", [](DemoContext& d) { return ZRReset(d.handle()); }},
});

const VerbGroup kDemo(95, "Tour", {
    {"demo", "", "a short guided tour: reset, inventory, user memory, power, reader state",
     {hex_arg("tag-id", 8, "E200341201020301", "identifier of the tag whose user memory the tour reads and writes "
                                               "(the default is the simulator's first tag)")},
     "zrtool --simulate demo",
     run_demo, Kind::tool},
});

}  // namespace

DemoSteps::DemoSteps(std::vector<DemoStep> more) {
    for (auto& s : more) steps().push_back(std::move(s));
}

}  // namespace zrtool
