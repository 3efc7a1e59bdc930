#pragma once

#include "browser/WindowEventCatcher.h"
#include "browser/WindowPlacement.h"

#include <Poco/SharedPtr.h>

#include <functional>
#include <memory>

namespace ferrovan {

class AppSettings;

// Keeps the main window's placement in the settings from the window's own events, without writing
// the file on every step of a drag: the first change arms a write kSaveDelayMs later, which saves
// whatever is latest by then; flush() saves what is still pending when the window closes. Only
// the normal frame is remembered; frames seen while maximised or minimised never replace it, so
// un-maximising on the next start returns to it. It takes a window event catcher's reports
// directly. UI thread only.
class WindowPlacementSaver : public IWindowEventCatcher::IEventHanlder {
public:
    static constexpr unsigned kSaveDelayMs = 500;

    // Runs `task` once, `delayMs` later, on the UI thread.
    using Schedule = std::function<void(unsigned delayMs, std::function<void()> task)>;

    // Starts from the placement the settings hold, so an event that changes nothing writes nothing.
    WindowPlacementSaver(const Poco::SharedPtr<AppSettings>& settings, Schedule schedule);

    WindowPlacementSaver(const WindowPlacementSaver&) = delete;
    WindowPlacementSaver& operator=(const WindowPlacementSaver&) = delete;

    // The window's outer frame, in screen pixels.
    void onConfigure(int x, int y, int width, int height);
    void onStateChanged(bool maximized, bool minimized);
    void flush();

    // A catcher reports nothing while the window is minimised.
    void onWindowResized(int width, int height, bool maximized) override;
    void onWindowMoved(int top, int left) override;

private:
    void changed();
    void onSaveDue();

    Poco::SharedPtr<AppSettings> m_settings;
    Schedule m_schedule;
    ScreenRect m_normal;
    bool m_maximized = false;
    bool m_minimized = false;
    bool m_pending = false;
    bool m_saveArmed = false;
    // A task scheduled by this object holds it weakly, so one that runs after the object is gone
    // does nothing.
    std::shared_ptr<WindowPlacementSaver*> m_self;
};

} // namespace ferrovan
