#pragma once

#include "bridge/IWebAppLifeCycleCallback.h"

namespace fv_test {

// Counts what the page told the host about the web application.
class RecordingLifeCycle : public fvcef::CefRefCounted<ferrovan::IWebAppLifeCycleCallback> {
public:
    void onStartup() override { ++startups; }
    void onShutdown() override { ++shutdowns; }

    int startups = 0;
    int shutdowns = 0;
};

} // namespace fv_test
