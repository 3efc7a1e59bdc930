#pragma once

#include "shell/GlobalProgressBar.h"
#include "shell/linux/SessionBusLinux.h"

#include <string>

namespace ferrovan {

// The dock's progress through the launcher-entry signal that docks and panels listen for on
// the session bus. Each change sends the whole state, so a dock that starts late catches up
// at the next change. Without a session bus every call does nothing.
class CGlobalProgressBarLinux : public IGlobalProgressBar {
public:
    CGlobalProgressBarLinux();
    // Hides a shown bar: the dock would keep the last progress of a window that is gone.
    ~CGlobalProgressBarLinux() override;
    CGlobalProgressBarLinux(const CGlobalProgressBarLinux&) = delete;
    CGlobalProgressBarLinux& operator=(const CGlobalProgressBarLinux&) = delete;

    void setVisible(bool visible) override;
    void setState(int state) override;
    void setValue(unsigned percent) override;
    ProgressBarStyle& getStyle() override;
    void setStyle(const ProgressBarStyle& style) override;

private:
    void sendUpdate();

    SessionBusPtr m_bus;
    std::string m_appUri;
    bool m_visible = false;
    bool m_urgent = false;
    double m_progress = 0.0;
    ProgressBarStyle m_style;
};

} // namespace ferrovan
