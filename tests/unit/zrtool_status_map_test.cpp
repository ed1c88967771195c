// zrtool decodes statuses offline with its own copy of the status table (it sees only the
// public API); the copy must give what the library gives for every byte and class.
#include <gtest/gtest.h>

#include "core/exchange.h"
#include "tools/zrtool/status_map.h"

TEST(ZrtoolStatusMap, AgreesWithTheLibraryForEveryStatusAndClass) {
    for (int device_class : {1, 2, 3})
        for (int s = 0; s < 256; ++s) {
            const auto status = static_cast<std::uint8_t>(s);
            EXPECT_EQ(zrtool::status_result(status, device_class),
                      zr::core::map_status(status, static_cast<std::uint8_t>(device_class)))
                << "class " << device_class << " status " << s;
        }
}
