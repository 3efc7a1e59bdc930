#pragma once

#include "shell/AppRuntime.h"

#include <gtk/gtk.h>

#include <vector>

namespace ferrovan {

// GTK under the application run. The main thread runs GTK's loop; a plain main window titled
// with the product name stands until the browser host supplies the real one, and the loop ends
// when that window is destroyed, however it was closed.
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

    // Null before initialize and once the window is gone. Owned by GTK.
    GtkWindow* getMainWindow() const;
    // What initialize was given, for the browser host to apply.
    const BrowserSettings& getSettings() const;
    // Ends the loop runMessageLoop runs, whatever the window does; nothing outside it.
    static void quitMessageLoop();

private:
    void createMainWindow();
    void watchStopSignals();
    static gboolean onStopSignal(gpointer self);
    static void onMainWindowDestroyed(GtkWidget* window, gpointer self);

    IApplicationControllerCallback& m_controller;
    BrowserSettings m_settings;
    bool m_initialized = false;
    GtkWidget* m_mainWindow = nullptr;
    std::vector<guint> m_signalSources;
};

} // namespace ferrovan
