// The two status tables, by device class.
#include <gtest/gtest.h>

#include "protocol/status.h"

using zr::protocol::map_status;

TEST(StatusTables, RangeEdges) {
    struct Case {
        std::uint8_t status;
        int class3, class1;
    };
    const Case cases[] = {
        {0x09, 1009, 1009}, {0x0A, -20, -20}, {0x10, -20, -20}, {0x11, 1010, 1010}, {0x16, 1015, 1015},
        {0x17, -20, -20},   {0x20, 2001, 2001}, {0x26, 2007, 2007}, {0x27, -20, -20}, {0x60, 3001, -20},
        {0x69, 3010, -20},  {0x6A, -20, -20},  {0x90, -20, 4001},  {0x9C, -20, 4013}, {0x9D, -20, -20},
        {0xFF, -20, -20},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(map_status(c.status, 3), c.class3) << int(c.status);
        EXPECT_EQ(map_status(c.status, 1), c.class1) << int(c.status);
    }
}
