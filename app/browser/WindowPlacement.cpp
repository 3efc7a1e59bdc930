#include "browser/WindowPlacement.h"

#include "shell/Logger.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace ferrovan {

namespace {

bool containsPixel(const ScreenRect& area, std::int64_t x, std::int64_t y)
{
    return x >= area.x && x < std::int64_t{area.x} + area.width && y >= area.y &&
           y < std::int64_t{area.y} + area.height;
}

// Zero when the rectangles do not overlap.
std::int64_t overlapArea(const ScreenRect& a, const ScreenRect& b)
{
    const std::int64_t left = std::max<std::int64_t>(a.x, b.x);
    const std::int64_t right = std::min(std::int64_t{a.x} + a.width, std::int64_t{b.x} + b.width);
    const std::int64_t top = std::max<std::int64_t>(a.y, b.y);
    const std::int64_t bottom = std::min(std::int64_t{a.y} + a.height, std::int64_t{b.y} + b.height);
    return right > left && bottom > top ? (right - left) * (bottom - top) : 0;
}

// The squared gap between the rectangles along each axis.
std::int64_t distanceSquared(const ScreenRect& a, const ScreenRect& b)
{
    const auto gap = [](std::int64_t startA, std::int64_t endA, std::int64_t startB, std::int64_t endB) {
        return std::max<std::int64_t>({0, startB - endA, startA - endB});
    };
    const std::int64_t dx = gap(a.x, std::int64_t{a.x} + a.width, b.x, std::int64_t{b.x} + b.width);
    const std::int64_t dy = gap(a.y, std::int64_t{a.y} + a.height, b.y, std::int64_t{b.y} + b.height);
    return dx * dx + dy * dy;
}

// The first display of the largest overlap; without any overlap, the first of the nearest.
const ScreenRect& bestMatch(const ScreenRect& frame, const std::vector<ScreenRect>& workAreas)
{
    const auto byOverlap =
        std::max_element(workAreas.begin(), workAreas.end(), [&](const ScreenRect& a, const ScreenRect& b) {
            return overlapArea(frame, a) < overlapArea(frame, b);
        });
    if (overlapArea(frame, *byOverlap) > 0)
        return *byOverlap;
    return *std::min_element(workAreas.begin(), workAreas.end(), [&](const ScreenRect& a, const ScreenRect& b) {
        return distanceSquared(frame, a) < distanceSquared(frame, b);
    });
}

bool isFullyVisible(const ScreenRect& frame, const std::vector<ScreenRect>& workAreas)
{
    // The last pixel, not the corner past it: a window exactly filling a work area is visible.
    const std::int64_t right = std::int64_t{frame.x} + frame.width - 1;
    const std::int64_t bottom = std::int64_t{frame.y} + frame.height - 1;
    const auto holds = [&](std::int64_t x, std::int64_t y) {
        return std::any_of(workAreas.begin(), workAreas.end(),
                           [&](const ScreenRect& area) { return containsPixel(area, x, y); });
    };
    return holds(frame.x, frame.y) && holds(right, bottom);
}

// "top: .., left: .., width: .., height: .." for a window, "x: .., y: .., ..." for a work area.
std::string frameText(const ScreenRect& rect)
{
    return "top: " + std::to_string(rect.y) + ", left: " + std::to_string(rect.x) +
           ", width: " + std::to_string(rect.width) + ", height: " + std::to_string(rect.height);
}

std::string areaText(const ScreenRect& rect)
{
    return "x: " + std::to_string(rect.x) + ", y: " + std::to_string(rect.y) +
           ", width: " + std::to_string(rect.width) + ", height: " + std::to_string(rect.height);
}

} // namespace

bool checkWindowPlacement(const ScreenRect& saved, const std::vector<ScreenRect>& workAreas, ScreenRect& corrected,
                          ILogger* log)
{
    // Without any display known there is nothing to move the window onto.
    if (workAreas.empty())
        return true;
    if (isFullyVisible(saved, workAreas)) {
        logLine(log, Poco::Message::PRIO_INFORMATION,
                "Window should be visible, will be displayed using saved cordinates");
        return true;
    }
    logLine(log, Poco::Message::PRIO_WARNING,
            "Saved window cordinates are fully or partially outside of all active displays: " + frameText(saved));
    const ScreenRect& area = bestMatch(saved, workAreas);
    logLine(log, Poco::Message::PRIO_INFORMATION, "Placing window on display with working area: " + areaText(area));
    corrected = {area.x, area.y, std::min(area.width, saved.width), std::min(area.height, saved.height)};
    logLine(log, Poco::Message::PRIO_INFORMATION, "New window cordinates: " + frameText(corrected));
    return false;
}

} // namespace ferrovan
