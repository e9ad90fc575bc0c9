// Where the logo is drawn.
#include <gtest/gtest.h>

#include "app/paint_geometry.h"
#include "tests/app/fake_dialog.h"

namespace {

constexpr std::int32_t LOGO_WIDTH = 1772;
constexpr std::int32_t LOGO_HEIGHT = 263;
constexpr WindowRect WINDOW = {100, 100, 556, 478};
constexpr WindowRect GROUP = {122, 140, 337, 226};

TEST(PaintGeometry, WorkedExample) {
    const LogoPlacement logo = PlaceLogo(WINDOW, GROUP, LOGO_WIDTH, LOGO_HEIGHT, 3, 23);
    EXPECT_TRUE(logo.draws);
    EXPECT_EQ(logo.width, 174);
    EXPECT_EQ(logo.height, 25);
    EXPECT_EQ(logo.x, 254);
    EXPECT_EQ(logo.y, 17);
}

TEST(PaintGeometry, ReadsWindowGroupFrameAndCaptionThroughTheDialog) {
    FakeDialog dialog;
    mainWindow = FAKE_MAIN_WINDOW;
    dialog.rectangles[FAKE_MAIN_WINDOW] = WINDOW;
    dialog.rectangles[FakeDialog::ControlWindowOf(IDC_VERSION_GROUP)] = GROUP;
    dialog.metrics[METRIC_DIALOG_FRAME_WIDTH] = 3;
    dialog.metrics[METRIC_CAPTION_HEIGHT] = 23;

    const LogoPlacement logo = PlaceLogoInDialog(dialog, LOGO_WIDTH, LOGO_HEIGHT);
    EXPECT_EQ(logo.width, 174);
    EXPECT_EQ(logo.height, 25);
    EXPECT_EQ(logo.x, 254);
    EXPECT_EQ(logo.y, 17);
    EXPECT_EQ(dialog.metrics.size(), 2u) << "SM_CXDLGFRAME (7) and SM_CYCAPTION (4) only";
    mainWindow = 0;
}

TEST(PaintGeometry, NothingIsDrawnWithoutFreeWidth) {
    for (const std::int32_t space : {45, 44, 0, -10, -1000}) {
        WindowRect window = WINDOW;
        window.right = GROUP.right + space;
        const LogoPlacement logo = PlaceLogo(window, GROUP, LOGO_WIDTH, LOGO_HEIGHT, 3, 23);
        EXPECT_FALSE(logo.draws) << space;
        EXPECT_LE(logo.width, 0) << space;
    }
    WindowRect window = WINDOW;
    window.right = GROUP.right + 46;
    EXPECT_TRUE(PlaceLogo(window, GROUP, LOGO_WIDTH, LOGO_HEIGHT, 3, 23).draws);
}

TEST(PaintGeometry, NeverWiderThanHalfTheBitmap) {
    for (const std::int32_t space : {45 + 886, 45 + 887, 5000, 100000}) {
        WindowRect window = WINDOW;
        window.right = GROUP.right + space;
        const LogoPlacement logo = PlaceLogo(window, GROUP, LOGO_WIDTH, LOGO_HEIGHT, 3, 23);
        EXPECT_EQ(logo.width, 886) << space;
        EXPECT_EQ(logo.height, 131) << space;
    }
    // An odd bitmap width is halved rounding down.
    WindowRect window = WINDOW;
    window.right = 100000;
    EXPECT_EQ(PlaceLogo(window, GROUP, 1773, 263, 3, 23).width, 886);
}

TEST(PaintGeometry, HeightIsWidthTimes263Over1772RoundedDownForEveryWidth) {
    for (std::int32_t w = 1; w <= 886; ++w) {
        WindowRect window = WINDOW;
        window.right = GROUP.right + 45 + w;
        const LogoPlacement logo = PlaceLogo(window, GROUP, LOGO_WIDTH, LOGO_HEIGHT, 3, 23);
        ASSERT_EQ(logo.width, w);
        ASSERT_EQ(logo.height, w * 263 / 1772) << "w = " << w;
    }
}

TEST(PaintGeometry, PositionTakesFrameWidthAndCaptionHeightOff) {
    struct Case {
        std::int32_t frame;
        std::int32_t caption;
        std::int32_t x;
        std::int32_t y;
    };
    for (const Case& c : {Case{3, 23, 254, 17}, Case{0, 0, 257, 40}, Case{4, 19, 253, 21}, Case{3, 50, 254, -10}}) {
        const LogoPlacement logo = PlaceLogo(WINDOW, GROUP, LOGO_WIDTH, LOGO_HEIGHT, c.frame, c.caption);
        EXPECT_EQ(logo.x, c.x);
        EXPECT_EQ(logo.y, c.y);
    }
}

TEST(PaintGeometry, MissingBitmapDrawsNothing) {
    EXPECT_FALSE(PlaceLogo(WINDOW, GROUP, 0, 0, 3, 23).draws);
}

}  // namespace
