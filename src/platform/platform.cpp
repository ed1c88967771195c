#include "platform/platform.h"

namespace zr::platform {
namespace {
Platform* installed = nullptr;
}

Platform& current() { return installed ? *installed : native(); }
void install(Platform* replacement) { installed = replacement; }

}  // namespace zr::platform
