// The ids of Linux's HID_ID property, and device paths between wide and ASCII text.
#include <gtest/gtest.h>

#include <string>

#include "link/ascii_path.h"
#include "link/hid_id.h"

namespace {

struct HidIdCase {
    const char* text;
    bool parsed;
    std::uint16_t vendorId;
    std::uint16_t productId;
};

TEST(HidIdTest, ReadsBusVendorAndProductAndRefusesTheRest) {
    const HidIdCase cases[] = {
        {"0003:00002E6D:00000002", true, 0x2E6D, 2},
        {"0003:00002e6d:00000001", true, 0x2E6D, 1},
        {"0005:0000046D:0000B33D", true, 0x046D, 0xB33D},
        {"3:2E6D:2", true, 0x2E6D, 2},
        {"0003:0000FFFF:0000FFFF", true, 0xFFFF, 0xFFFF},
        {"0003:00012E6D:00000002", false, 0, 0},   // vendor beyond 16 bits
        {"0003:00002E6D:00010002", false, 0, 0},   // product beyond 16 bits
        {"0003:000000002E6D:00000002", false, 0, 0},  // nine digits and more
        {"0003:00002E6D", false, 0, 0},
        {"0003:00002E6D:00000002:0", false, 0, 0},
        {"0003:00002E6D:00000002 ", false, 0, 0},
        {"0003::00000002", false, 0, 0},
        {"0003:2E6G:00000002", false, 0, 0},
        {"", false, 0, 0},
        {nullptr, false, 0, 0},
    };
    for (const HidIdCase& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        HidAttributes attributes{0x1111, 0x2222};
        EXPECT_EQ(ParseHidId(c.text, attributes), c.parsed);
        EXPECT_EQ(attributes.vendorId, c.parsed ? c.vendorId : 0x1111);
        EXPECT_EQ(attributes.productId, c.parsed ? c.productId : 0x2222);
    }
}

TEST(AsciiPathTest, NodePathsGoBothWaysAndNothingElsePasses) {
    std::wstring wide = L"left over";
    EXPECT_TRUE(WidenAsciiPath("/dev/hidraw12", wide));
    EXPECT_EQ(wide, L"/dev/hidraw12");
    EXPECT_FALSE(WidenAsciiPath("/dev/hidr\xC3\xA4w0", wide));
    EXPECT_EQ(wide, L"");
    EXPECT_FALSE(WidenAsciiPath(nullptr, wide));

    std::string narrow = "left over";
    EXPECT_TRUE(NarrowAsciiPath(L"/dev/hidraw3", narrow));
    EXPECT_EQ(narrow, "/dev/hidraw3");
    EXPECT_FALSE(NarrowAsciiPath(L"/dev/hidr\u00e4w3", narrow));
    EXPECT_EQ(narrow, "");
    // A NUL would cut the path short and name another file.
    EXPECT_FALSE(NarrowAsciiPath(std::wstring(L"/dev/hidraw3\0/x", 15), narrow));
    // A wide character whose low byte is ASCII must not pass as that byte.
    EXPECT_FALSE(NarrowAsciiPath(L"/dev/hidraw\u0133", narrow));
}

}  // namespace
