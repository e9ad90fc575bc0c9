// Where the logo goes: right of the version group box, scaled to the free width and
// never wider than half the bitmap.
#pragma once

#include <cstdint>

#include "app/dialog_ops.h"

struct LogoPlacement {
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;
    std::int32_t height;
    bool draws;  // false when the free width leaves no room: nothing is drawn
};

// window and group are screen rectangles of the main window and of the group box;
// frameWidth and captionHeight are the dialog frame's width and the caption's height.
LogoPlacement PlaceLogo(const WindowRect& window, const WindowRect& group, std::int32_t bitmapWidth,
                        std::int32_t bitmapHeight, std::int32_t frameWidth, std::int32_t captionHeight);

// The placement for the dialog as it is now: the main window's and the group box's
// rectangles, then the frame width and the caption height, read through ops.
LogoPlacement PlaceLogoInDialog(DialogOps& ops, std::int32_t bitmapWidth, std::int32_t bitmapHeight);
