#pragma once

#include <list>
#include <string>

namespace ferrovan {

// What files and activations handed over from outside reach: the main window and the web page
// in it, as the browser host offers them. Called on the UI thread only.
class IHandOffTarget {
public:
    virtual ~IHandOffTarget() = default;
    // Whether the page has reported that it is ready to take files.
    virtual bool isAppInitialized() = 0;
    // The page's new-message and new-share routes; the host keeps a route until the page can
    // take it.
    virtual void navigateToNewMessage() = 0;
    virtual void navigateToNewShare() = 0;
    // Local paths for the ready page; the flags travel on to it.
    virtual void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) = 0;
    // Local paths kept for the page until it is ready, each hand-over with its own flags.
    virtual void storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer) = 0;
    // Brings the main window to the front.
    virtual void activateMainWindow() = 0;
};

} // namespace ferrovan
