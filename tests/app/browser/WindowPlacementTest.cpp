#include "browser/WindowPlacement.h"

#include "app/shell/RecordingLogger.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace ferrovan {

std::ostream& operator<<(std::ostream& out, const ScreenRect& rect)
{
    return out << "{" << rect.x << ", " << rect.y << ", " << rect.width << ", " << rect.height << "}";
}

} // namespace ferrovan

namespace {

using ferrovan::ScreenRect;

const ScreenRect kLeftScreen{0, 0, 1920, 1040};
const ScreenRect kRightScreen{1920, 0, 2560, 1400};
const ScreenRect kUntouched{-7, -7, -7, -7};

struct PlacementCase {
    std::string name;
    ScreenRect saved;
    std::vector<ScreenRect> workAreas;
    ScreenRect corrected; // kUntouched: the saved placement stands
};

TEST(WindowPlacement, AWindowStaysWhereSavedOnlyWhenWhollyOnTheDisplays)
{
    const std::vector<ScreenRect> both = {kLeftScreen, kRightScreen};
    const PlacementCase cases[] = {
        {"fills the work area exactly", {0, 0, 1920, 1040}, both, kUntouched},
        {"right edge on the work area's right edge", {920, 100, 1000, 800}, {kLeftScreen}, kUntouched},
        {"bottom edge on the work area's bottom edge", {100, 240, 800, 800}, {kLeftScreen}, kUntouched},
        {"spans both displays", {1500, 100, 1000, 800}, both, kUntouched},
        {"inside the second display", {2000, 50, 1400, 900}, both, kUntouched},
        {"one pixel past the right edge", {921, 100, 1000, 800}, {kLeftScreen}, {0, 0, 1000, 800}},
        {"larger than the work area", {0, 0, 2500, 1600}, {kLeftScreen}, {0, 0, 1920, 1040}},
        {"mostly on the second display", {3000, 900, 1400, 900}, both, {1920, 0, 1400, 900}},
        {"above every display", {100, -2000, 800, 600}, both, {0, 0, 800, 600}},
        {"off every display, nearest the second", {9000, 100, 800, 600}, both, {1920, 0, 800, 600}},
        {"top-left left of every display", {-10, 10, 800, 600}, both, {0, 0, 800, 600}},
        {"no display known", {-5000, -5000, 800, 600}, {}, kUntouched},
    };
    for (const PlacementCase& c : cases) {
        ScreenRect corrected = kUntouched;
        const bool stays = ferrovan::checkWindowPlacement(c.saved, c.workAreas, corrected, nullptr);
        EXPECT_EQ(c.corrected == kUntouched, stays) << c.name;
        EXPECT_EQ(c.corrected, corrected) << c.name;
    }
}

TEST(WindowPlacement, AMovedWindowIsLoggedWithItsOldAndNewPlace)
{
    fv_test::RecordingLogger log;
    ScreenRect corrected;
    ASSERT_FALSE(ferrovan::checkWindowPlacement({-3000, 20, 2500, 900}, {kLeftScreen}, corrected, &log));
    EXPECT_EQ(1, log.count(Poco::Message::PRIO_WARNING, "Saved window cordinates are fully or partially outside of "
                                                        "all active displays: top: 20, left: -3000, width: 2500, "
                                                        "height: 900"));
    EXPECT_EQ(1, log.count(Poco::Message::PRIO_INFORMATION,
                           "Placing window on display with working area: x: 0, y: 0, width: 1920, height: 1040"));
    EXPECT_EQ(1, log.count(Poco::Message::PRIO_INFORMATION,
                           "New window cordinates: top: 0, left: 0, width: 1920, height: 900"));

    fv_test::RecordingLogger stayed;
    ASSERT_TRUE(ferrovan::checkWindowPlacement({10, 10, 800, 600}, {kLeftScreen}, corrected, &stayed));
    EXPECT_EQ(1, stayed.count(Poco::Message::PRIO_INFORMATION,
                              "Window should be visible, will be displayed using saved cordinates"));
}

} // namespace
