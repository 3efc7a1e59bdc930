#pragma once

#include <Poco/Message.h>

#include <string>
#include <vector>

namespace ferrovan {

// The browser asks twice about each navigation: before it starts (the action, which knows whether
// the user caused it but not which frame it is for) and when the answer arrives (the response,
// which knows the frame).
enum class NavigationStage { kAction, kResponse };

struct NavigationRequest {
    NavigationStage stage = NavigationStage::kAction;
    std::string url;
    bool mainFrame = true;    // read at the response stage only
    bool userGesture = false; // read at the action stage only
};

struct NavigationDecision {
    bool allow = false;
    Poco::Message::Priority priority = Poco::Message::PRIO_INFORMATION;
    std::string message; // the line to log at `priority`; empty when there is nothing to log
};

// Keeps the application browser on the web application and the program's own pages. Other http(s)
// pages may fill sub-frames; the user following a link away is refused, and so is a main frame
// whose answer comes from elsewhere (a redirect, a script). Local files and other schemes are
// refused everywhere. With no web application address only the program's own pages remain.
NavigationDecision decideNavigation(const NavigationRequest& request, const std::string& webAppUrl,
                                    const std::vector<std::string>& localPageUrls);

// Whether a page's request for a new window may be handed to the desktop's browser.
bool mayOpenInSystemBrowser(const std::string& url);

} // namespace ferrovan
