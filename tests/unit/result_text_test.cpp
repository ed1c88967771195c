// ZRResultText: every code the library can return has a text of its own, and the texts are
// constants the caller may keep.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <set>
#include <string>

#include "core/exchange.h"
#include "zr.h"

namespace {

const std::string kUnknown = "unknown result code";

}  // namespace

TEST(ResultText, EveryMappedReaderStatusNamesItsByte) {
    for (int device_class : {1, 2, 3}) {
        for (int s = 1; s < 256; ++s) {
            const int code = zr::protocol::map_status(static_cast<std::uint8_t>(s), device_class);
            SCOPED_TRACE("class " + std::to_string(device_class) + " status " + std::to_string(s) + " -> " +
                         std::to_string(code));
            const std::string text = ZRResultText(code);
            EXPECT_NE(text, kUnknown);
            if (code == ZR_ERR_UNKNOWN_STATUS) continue;  // one code for many bytes
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", s);
            EXPECT_NE(text.find(byte), std::string::npos) << text;
        }
    }
    EXPECT_EQ(std::string(ZRResultText(1004)), "reader status 0x04");
    EXPECT_EQ(std::string(ZRResultText(1010)), "reader status 0x11");
    EXPECT_EQ(std::string(ZRResultText(4013)), "reader status 0x9C");
    // Where the device class that gives the code names the status, the text says what it means.
    EXPECT_EQ(std::string(ZRResultText(1001)), "reader status 0x01: unknown command");
    EXPECT_EQ(std::string(ZRResultText(3002)), "reader status 0x61: no tag matches");
    EXPECT_EQ(std::string(ZRResultText(4002)), "reader status 0x91: no tag matches");
    EXPECT_EQ(std::string(ZRResultText(3005)), "reader status 0x64: address beyond the tag's memory");
}

TEST(ResultText, EveryLibraryCodeHasItsOwnText) {
    const int codes[] = {1,   0,   -1,  -2,  -3,  -4,  -5,  -6,  -7,  -8,  -9,  -10, -11,
                         -12, -13, -14, -15, -16, -20, 242, 1001, 1015, 2001, 2007, 3001, 3010, 4001};
    std::set<std::string> seen;
    for (int code : codes) {
        SCOPED_TRACE(code);
        const char* text = ZRResultText(code);
        ASSERT_NE(text, nullptr);
        EXPECT_NE(std::string(text), kUnknown);
        EXPECT_TRUE(seen.insert(text).second) << "shared text: " << text;
    }
    EXPECT_EQ(std::string(ZRResultText(ZR_OK)), "ok");
    EXPECT_EQ(std::string(ZRResultText(ZR_ERR_NO_REPLY)), "no valid reply");
    // -5 is both a refused argument and status 0x3F in classes 1 and 2: the text says both.
    const std::string five = ZRResultText(ZR_ERR_PARAMETER);
    EXPECT_NE(five.find("argument"), std::string::npos);
    EXPECT_NE(five.find("0x3F"), std::string::npos);
}

TEST(ResultText, CodesTheLibraryNeverReturnsAreUnknown) {
    for (int code : {2, 3, 241, 243, 999, 1000, 1016, 2000, 2008, 3000, 3011, 4000, 4014, -17, -19, -21, INT_MIN,
                     INT_MAX}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(std::string(ZRResultText(code)), kUnknown);
    }
}

TEST(ResultText, TextsAreConstantsThatStayValid) {
    const char* ok = ZRResultText(ZR_OK);
    const char* status = ZRResultText(1004);
    const std::string status_copy = status;
    for (int code = -100; code < 5000; ++code) ZRResultText(code);
    EXPECT_EQ(ZRResultText(ZR_OK), ok);
    EXPECT_EQ(ZRResultText(1004), status);
    EXPECT_EQ(std::string(status), status_copy);
}
