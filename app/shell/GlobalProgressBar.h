#pragma once

#include <cstdint>
#include <map>
#include <memory>

namespace ferrovan {

class INativeUiDataHolder;

struct ProgressBarColor {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
};

// The bar's states, as the page names them: "normal", "error", "pause".
constexpr int kProgressStateNormal = 1;
constexpr int kProgressStateError = 2;
constexpr int kProgressStatePause = 3;

struct ProgressBarStyle {
    std::uint8_t lineWidthPx = 2;
    bool rounded = true;
    ProgressBarColor color{128, 128, 128}; // the frame
    std::map<int, ProgressBarColor> stateColors{{kProgressStateNormal, {0, 191, 255}},
                                                {kProgressStateError, {255, 0, 0}},
                                                {kProgressStatePause, {255, 255, 0}}};
};

// The program-wide progress shown on the dock's icon. Used on the UI thread only.
class IGlobalProgressBar {
public:
    virtual ~IGlobalProgressBar() = default;
    virtual void setVisible(bool visible) = 0;
    virtual void setState(int state) = 0;
    // Values above 100 show a full bar.
    virtual void setValue(unsigned percent) = 0;
    virtual ProgressBarStyle& getStyle() = 0;
    virtual void setStyle(const ProgressBarStyle& style) = 0;
};

// The bar of the program's dock entry; `window` may be null.
std::unique_ptr<IGlobalProgressBar> createGlobalProgressBar(INativeUiDataHolder* window);

// Whether setStyle changes what the user sees; the page is told when it does not.
bool isProgressBarStylingSupported();

} // namespace ferrovan
