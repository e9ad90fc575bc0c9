#include "app/paint_geometry.h"

#include <algorithm>

#include "res/resource.h"

LogoPlacement PlaceLogo(const WindowRect& window, const WindowRect& group, std::int32_t bitmapWidth,
                        std::int32_t bitmapHeight, std::int32_t frameWidth, std::int32_t captionHeight) {
    LogoPlacement placement{};
    if (bitmapWidth <= 0) {
        return placement;  // no bitmap to scale: nothing is drawn
    }
    placement.width = std::min(window.right - group.right - 45, bitmapWidth >> 1);
    // Single precision, truncated: the scaled height the logo has always been drawn with.
    const float scale = static_cast<float>(placement.width) / static_cast<float>(bitmapWidth);
    placement.height = static_cast<std::int32_t>(scale * static_cast<float>(bitmapHeight));
    placement.x = group.right - window.left - frameWidth + 20;
    placement.y = group.top - window.top - captionHeight;
    placement.draws = placement.width > 0;
    return placement;
}

LogoPlacement PlaceLogoInDialog(DialogOps& ops, std::int32_t bitmapWidth, std::int32_t bitmapHeight) {
    const WindowRect window = ops.WindowRectangle(mainWindow);
    const WindowRect group = ops.WindowRectangle(ops.ControlWindow(IDC_VERSION_GROUP));
    const std::int32_t frameWidth = ops.SystemMetric(METRIC_DIALOG_FRAME_WIDTH);
    const std::int32_t captionHeight = ops.SystemMetric(METRIC_CAPTION_HEIGHT);
    return PlaceLogo(window, group, bitmapWidth, bitmapHeight, frameWidth, captionHeight);
}
