// The two status tables, by device class.
#include <gtest/gtest.h>

#include "core/exchange.h"

using zr::core::map_status;

TEST(StatusTables, EveryStatusByteForBothTables) {
    // Expected results computed independently of the code: ranges as the reader documents them.
    for (int s = 0; s <= 0xFF; ++s) {
        int class3 = -20, class12 = -20;
        if (s == 0) class3 = class12 = 1;
        else if (s >= 0x01 && s <= 0x09) class3 = class12 = 1000 + s;
        else if (s >= 0x11 && s <= 0x16) class3 = class12 = 1010 + (s - 0x11);
        else if (s >= 0x20 && s <= 0x26) class3 = class12 = 2001 + (s - 0x20);
        else if (s == 0x3A) class12 = -7;
        else if (s == 0x3F) class12 = -5;
        else if (s >= 0x60 && s <= 0x69) class3 = 3001 + (s - 0x60);
        else if (s >= 0x90 && s <= 0x9C) class12 = 4001 + (s - 0x90);
        auto b = static_cast<std::uint8_t>(s);
        EXPECT_EQ(map_status(b, 3), class3) << std::hex << s;
        EXPECT_EQ(map_status(b, 1), class12) << std::hex << s;
        EXPECT_EQ(map_status(b, 2), class12) << std::hex << s;
    }
}

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
