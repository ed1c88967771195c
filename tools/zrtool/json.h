// zrtool's --json output: the writer it shares with zrgate (tools/common/json.h), whose
// documents are ASCII whatever bytes names and values hold.
#pragma once

#include "common/json.h"

namespace zrtool {
using Json = zrjson::Json;
}  // namespace zrtool
