#include "shell/linux/FerrovanApplicationLinux.h"

#include "shell/AlertDialog.h"
#include "shell/AppController.h"
#include "shell/AppEnvironment.h"
#include "shell/BrowserSettings.h"
#include "shell/FerrovanLogger.h"
#include "shell/InstanceGuard.h"
#include "shell/OstrelController.h"
#include "shell/Updater.h"
#include "shell/linux/AppRuntimeLinux.h"
#include "shell/linux/HandoffServiceLinux.h"
#include "shell/linux/InstanceHandOverLinux.h"

#include "AppConfig.h"
#include "core/config/FvTransfersGlobalConfig.h"

#include <gtk/gtk.h>

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <utility>

namespace ferrovan {

namespace {

const char* const kAnotherSession = "Ferrovan is already running in another session.";

} // namespace

FerrovanApplicationLinux::FerrovanApplicationLinux(const CommandLineArguments& arguments, std::string executablePath,
                                                   BrowserHostFactory browserHost)
    : FerrovanApplicationBase(arguments, std::move(executablePath)), m_browserHostFactory(std::move(browserHost))
{
}

FerrovanApplicationLinux::~FerrovanApplicationLinux() = default;

void FerrovanApplicationLinux::checkForUpdates()
{
    if (m_updater)
        m_updater->checkForUpdatesWithUi();
}

void FerrovanApplicationLinux::closeApplication()
{
    if (m_browserHost)
        m_browserHost->closeMainWindow();
    else
        FerrovanApplicationBase::closeApplication();
}

std::unique_ptr<IAppRuntime> FerrovanApplicationLinux::createRuntime()
{
    auto runtime = std::make_unique<AppRuntimeLinux>(*this);
    m_gtkRuntime = runtime.get();
    return runtime;
}

bool FerrovanApplicationLinux::acquireInstanceGuard()
{
    m_instanceGuard = createInstanceGuard(environment()->getAppDataDirectory());
    switch (m_instanceGuard->acquire()) {
    case InstanceGuardState::HeldByAnother: return false;
    case InstanceGuardState::Held:
        logGuard(Poco::Message::PRIO_INFORMATION, "Gloabl mutex created successfully!");
        break;
    case InstanceGuardState::Unavailable:
        // A restart asks for the guard only once its wait for the old process is over.
        logGuard(Poco::Message::PRIO_ERROR,
                 arguments().waitForPid != 0
                     ? "Failed to create global mutex even after command line processing completed."
                     : "Failed to create global mutex, guard against multiple app instances will not work!");
        logGuard(Poco::Message::PRIO_ERROR, m_instanceGuard->getError());
        break;
    }
    m_handOffService = std::make_unique<CHandoffServiceLinux>(m_handOffHub);
    m_handOffServed = m_handOffService->start(&delayedLogger());
    return true;
}

int FerrovanApplicationLinux::handOverToRunningInstance()
{
    const std::string error = CInstanceHandOverLinux().activateRunningInstance();
    if (error.empty())
        return 0;
    logGuard(Poco::Message::PRIO_ERROR, "Failed to reach the running instance: " + error);
    std::cerr << kAnotherSession << std::endl;
    g_set_prgname(FV_APP_ID);
    if (gtk_init_check(nullptr, nullptr)) {
        // Nothing is left to shut down: a stop request may end the start while the box stands.
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTERM);
        sigaddset(&stops, SIGINT);
        pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
        createAlertDialog()->show(kAnotherSession, kWarningAlert, nullptr);
    }
    return kExitInstanceUnreachable;
}

bool FerrovanApplicationLinux::beforeMessageLoop()
{
    m_updater = std::make_unique<Updater>(bundleInfo());
    m_updater->startAutomaticChecks(*settings(), arguments());

    if (!m_browserHostFactory)
        return false;
    BrowserHostContext context;
    context.globals = {environment(), fv_transfers::CFvTransfersGlobalConfig::getInstance(), &delayedLogger()};
    context.settings = settings();
    context.exitFlags = exitFlags();
    context.application = this;
    context.browserSettings = m_gtkRuntime->getSettings();
    // A hand-over's activation waits until there is a window to raise.
    context.mainWindowShown = [this] { m_handOffHub.mainWindowShown(); };
    m_browserHost = m_browserHostFactory(context);
    if (!m_browserHost || !m_browserHost->start())
        return false;

    m_ostrelController = std::make_unique<OstrelController>(
        m_handOffHub, new AppController(*m_browserHost, CFerrovanLogger::getInstance()));
    if (!m_ostrelController->registerHandler() || !m_handOffServed)
        logLine(CFerrovanLogger::getInstance(), Poco::Message::PRIO_WARNING,
                "ferrovan::FerrovanApplicationLinux::beforeMessageLoop: Failed to initialize context menu controller, "
                "context menu items may not be working!");
    return true;
}

void FerrovanApplicationLinux::afterMessageLoop()
{
    // Calls that come now wait in the hub; nothing is left to show them.
    m_ostrelController.reset();
    // The window, its browser and the bridges end while the toolkit still runs.
    m_browserHost.reset();
    // Its boxes and its sources belong to the toolkit, which ends next; ending it also stops
    // its schedule and waits for a running check.
    m_updater.reset();
}

void FerrovanApplicationLinux::logGuard(Poco::Message::Priority priority, const std::string& text)
{
    logLine(&delayedLogger(), priority, "ferrovan::FerrovanApplicationLinux::acquireInstanceGuard: " + text);
}

} // namespace ferrovan
