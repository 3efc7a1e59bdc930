#pragma once

namespace ferrovan {

// Interface 2 of a query handler: the transfer handlers start and stop with the web application.
class IAppLifecycleEventsHandler {
public:
    // The page is ready: subscribe to the manager and start it.
    virtual void onAppStartup() = 0;
    // The browser closes: stop the manager and unsubscribe.
    virtual void onAppShutdown() = 0;

protected:
    ~IAppLifecycleEventsHandler() = default;
};

} // namespace ferrovan
