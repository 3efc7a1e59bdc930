#pragma once

#include <memory>

namespace ferrovan {

// Watches the main window's frame for moves and size changes, so its placement can be kept.
// Events arrive on the UI thread.
class IWindowEventCatcher {
public:
    class IEventHanlder {
    public:
        virtual ~IEventHanlder() = default;
        // The outer frame's size; `maximized` while the window fills its display.
        virtual void onWindowResized(int width, int height, bool maximized) = 0;
        // The outer frame's top-left corner, in screen pixels.
        virtual void onWindowMoved(int top, int left) = 0;
    };

    virtual ~IWindowEventCatcher() = default;
    // `handler` is borrowed and must outlive the catcher, or be replaced by null first.
    virtual void setEventHandler(IEventHanlder* handler) = 0;
};

// A catcher over the top-level window `nativeWindow` (CefBrowserHost::GetWindowHandle). A null
// window gives a catcher that reports nothing. A minimised window reports nothing: its frame is
// not the one to restore.
std::unique_ptr<IWindowEventCatcher> createWindowEventCatcher(void* nativeWindow);

} // namespace ferrovan
