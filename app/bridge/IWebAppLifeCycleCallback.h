#pragma once

#include "browser/host/CefBaseRefCounted.h"

namespace ferrovan {

// What the page tells the browser host about the web application itself.
class IWebAppLifeCycleCallback : public virtual fvcef::CefBaseRefCounted {
public:
    // The page reported that the web application is ready.
    virtual void onStartup() = 0;
    // The page asked the program to exit.
    virtual void onShutdown() = 0;
};

} // namespace ferrovan
