#pragma once

#include <vector>

namespace ferrovan {

class ILogger;

// A rectangle in screen pixels: a window's outer frame or a display's work area.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const ScreenRect& other) const
    {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
};

// Whether the saved window frame is fully visible on the displays' work areas: its top-left and
// bottom-right pixels each on some display (they may be on different displays). True leaves
// `corrected` alone. False puts in `corrected` the work area's origin of the display that best
// matches the frame (the largest overlap, else the nearest) and the saved size cut to that work
// area. With no display there is nothing to test against and the placement stays.
bool checkWindowPlacement(const ScreenRect& saved, const std::vector<ScreenRect>& workAreas, ScreenRect& corrected,
                          ILogger* log);

} // namespace ferrovan
