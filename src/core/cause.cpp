#include "core/cause.h"

#include <utility>

#include "api/zr.h"

namespace zr::core {
namespace {

struct CauseState {
    std::string text;
    unsigned serial = 0;  // counts set_cause calls on this thread
};

CauseState& state() noexcept {
    thread_local CauseState s;
    return s;
}

bool is_failure(int result) { return result <= 0 || result >= 1001; }

}  // namespace

void set_cause(std::string text) {
    auto& s = state();
    s.text = std::move(text);
    ++s.serial;
}

const char* last_cause() noexcept { return state().text.c_str(); }

KeptCause::KeptCause() : text_(state().text), serial_(state().serial) {}

KeptCause::~KeptCause() {
    auto& s = state();
    s.text = std::move(text_);
    s.serial = serial_;
}

unsigned cause_mark() noexcept { return state().serial; }

void finish_cause(unsigned mark, int result) noexcept {
    if (!is_failure(result)) return;
    auto& s = state();
    if (s.serial != mark) return;
    try {
        s.text.assign(ZRResultText(result));
    } catch (...) {
        s.text.clear();  // no memory for the text: better empty than about an older failure
    }
    ++s.serial;
}

}  // namespace zr::core

extern "C" ZR_API const char* ZR_CALL ZRLastCause(void) { return zr::core::last_cause(); }
