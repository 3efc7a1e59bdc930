#pragma once

namespace ferrovan {

// The web application's pages that the program opens on its own; the browser host implements
// it. Before the web application is ready the host keeps the navigation for later. UI thread only.
class IWebAppNavigator {
public:
    virtual ~IWebAppNavigator() = default;
    // The page that sends files ("/message/new").
    virtual void navigateToNewMessage() = 0;
    // The page that shares files ("/share/new").
    virtual void navigateToNewShare() = 0;
};

} // namespace ferrovan
