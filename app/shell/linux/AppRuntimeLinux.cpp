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

namespace {

// A quit asked for before the loop runs; UI thread only.
bool quitPending = false;

} // namespace

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
    quitPending = false;
    watchStopSignals();
    m_initialized = true;
    return true;
}

void AppRuntimeLinux::runMessageLoop()
{
    if (!m_initialized || std::exchange(quitPending, false))
        return;
    gtk_main();
}

void AppRuntimeLinux::quit()
{
    if (m_initialized)
        quitMessageLoop();
}

void AppRuntimeLinux::shutdown()
{
    for (guint source : m_signalSources)
        g_source_remove(source);
    m_signalSources.clear();
    m_initialized = false;
    quitPending = false;
}

const BrowserSettings& AppRuntimeLinux::getSettings() const
{
    return m_settings;
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

void AppRuntimeLinux::quitMessageLoop()
{
    if (gtk_main_level() > 0)
        gtk_main_quit();
    else
        quitPending = true;
}

} // namespace ferrovan
