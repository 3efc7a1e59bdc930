#include "shell/linux/AppRuntimeLinux.h"

#include "shell/AppSettings.h"
#include "shell/linux/StopSignalHold.h"

#include "AppConfig.h"

#include <glib-unix.h>

#include <csignal>
#include <pthread.h>
#include <memory>
#include <utility>

namespace ferrovan {

std::unique_ptr<IAppRuntime> createAppRuntime(IApplicationControllerCallback& controller)
{
    return std::make_unique<AppRuntimeLinux>(controller);
}

AppRuntimeLinux::AppRuntimeLinux(IApplicationControllerCallback& controller) : m_controller(controller) {}

AppRuntimeLinux::~AppRuntimeLinux()
{
    shutdown();
}

int AppRuntimeLinux::executeProcess()
{
    return -1;
}

bool AppRuntimeLinux::initialize(const BrowserSettings& settings)
{
    if (m_initialized)
        return true;
    // Before GTK starts: the display's window class and application id are taken from it, and
    // the desktop file names the same id.
    g_set_prgname(FV_APP_ID);
    if (!gtk_init_check(nullptr, nullptr))
        return false;
    gdk_set_program_class(FV_APP_ID);
    m_settings = settings;
    createMainWindow();
    watchStopSignals();
    m_initialized = true;
    return true;
}

void AppRuntimeLinux::runMessageLoop()
{
    if (m_mainWindow != nullptr)
        gtk_main();
}

void AppRuntimeLinux::quit()
{
    if (m_mainWindow != nullptr)
        gtk_window_close(GTK_WINDOW(m_mainWindow));
}

void AppRuntimeLinux::shutdown()
{
    for (guint source : m_signalSources)
        g_source_remove(source);
    m_signalSources.clear();
    if (m_mainWindow != nullptr) {
        g_signal_handlers_disconnect_by_data(m_mainWindow, this);
        gtk_widget_destroy(std::exchange(m_mainWindow, nullptr));
    }
    m_initialized = false;
}

GtkWindow* AppRuntimeLinux::getMainWindow() const
{
    return m_mainWindow != nullptr ? GTK_WINDOW(m_mainWindow) : nullptr;
}

const BrowserSettings& AppRuntimeLinux::getSettings() const
{
    return m_settings;
}

void AppRuntimeLinux::createMainWindow()
{
    m_mainWindow = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(m_mainWindow), FV_PRODUCT_NAME);
    gtk_window_set_icon_name(GTK_WINDOW(m_mainWindow), FV_APP_ID);
    gtk_window_set_default_size(GTK_WINDOW(m_mainWindow), AppSettings::kDefaultWidth, AppSettings::kDefaultHeight);
    g_signal_connect(m_mainWindow, "destroy", G_CALLBACK(onMainWindowDestroyed), this);
    gtk_widget_show(m_mainWindow);
}

void AppRuntimeLinux::watchStopSignals()
{
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : {SIGTERM, SIGINT}) {
        m_signalSources.push_back(g_unix_signal_add(signal, onStopSignal, this));
        sigaddset(&stops, signal);
    }
    // The program holds them back from its start (Main.cpp): one sent during start-up is taken
    // now, and ends the loop through the window like any other.
    pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    replayHeldStopSignals();
}

gboolean AppRuntimeLinux::onStopSignal(gpointer self)
{
    auto* runtime = static_cast<AppRuntimeLinux*>(self);
    // No exception may cross GLib's frames; the window is closed here then, so the stop still
    // ends the loop.
    try {
        runtime->m_controller.closeApplication();
    } catch (...) {
        runtime->quit();
    }
    return G_SOURCE_CONTINUE;
}

void AppRuntimeLinux::onMainWindowDestroyed(GtkWidget*, gpointer self)
{
    static_cast<AppRuntimeLinux*>(self)->m_mainWindow = nullptr;
    quitMessageLoop();
}

void AppRuntimeLinux::quitMessageLoop()
{
    if (gtk_main_level() > 0)
        gtk_main_quit();
}

} // namespace ferrovan
