// The guided tour of `zrtool demo`: steps registered by the files of the commands they use,
// run in their order, each printing its result.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "verb.h"

namespace zrtool {

// What a step works with: the demo's call (handle, options) and the outputs of the step.
struct DemoContext {
    explicit DemoContext(Call& c) : call(c) {}
    Call& call;
    Json outputs = Json::object();
    std::vector<std::vector<std::uint8_t>> epcs;  // tags seen by the inventory step
    std::map<std::string, std::vector<std::uint8_t>> kept;  // bytes one step leaves for a later one
    int handle() const { return call.handle(); }
    void out(const std::string& key, Json value) { outputs.set(key, std::move(value)); }
    // A step that must not run (it would write after a failed read) says why and returns
    // skip(): it shows as skipped, not with a result it never had.
    std::string skipped;
    int skip(std::string why) {
        skipped = std::move(why);
        return 0;
    }
};

struct DemoStep {
    int order;
    const char* title;     // "reset the reader"
    const char* function;  // the exported function the step shows
    std::function<int(DemoContext&)> run;
    Kind kind = Kind::status;
};

// Registers steps at start-up, like VerbGroup.
struct DemoSteps {
    explicit DemoSteps(std::vector<DemoStep> steps);
};

}  // namespace zrtool
