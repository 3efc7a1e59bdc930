#pragma once

#include "shell/AppRuntime.h"

#include <gtk/gtk.h>

#include <vector>

namespace ferrovan {

// GTK under the application run. The main thread runs GTK's loop until quitMessageLoop; the main
// window is the browser host's, which ends the loop once its browser is gone.
class AppRuntimeLinux : public IAppRuntime {
public:
    explicit AppRuntimeLinux(IApplicationControllerCallback& controller);
    ~AppRuntimeLinux() override;
    AppRuntimeLinux(const AppRuntimeLinux&) = delete;
    AppRuntimeLinux& operator=(const AppRuntimeLinux&) = delete;

    // WebKitGTK starts its helper processes itself; this one is never one of them.
    int executeProcess() override;
    bool initialize(const BrowserSettings& settings) override;
    void runMessageLoop() override;
    void quit() override;
    void shutdown() override;

    // What initialize was given, for the browser host to apply.
    const BrowserSettings& getSettings() const;
    // Ends the loop runMessageLoop runs; asked before the loop, the loop does not start.
    static void quitMessageLoop();

private:
    void watchStopSignals();
    static gboolean onStopSignal(gpointer self);

    IApplicationControllerCallback& m_controller;
    BrowserSettings m_settings;
    bool m_initialized = false;
    std::vector<guint> m_signalSources;
};

} // namespace ferrovan
