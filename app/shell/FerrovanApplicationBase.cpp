#include "shell/FerrovanApplicationBase.h"

#include "FvTransfersInitializer.h"
#include "core/config/FvTransfersGlobalConfig.h"
#include "shell/AppBundleInfo.h"
#include "shell/AppEnvironment.h"
#include "shell/AppExitFlags.h"
#include "shell/AppExitFlagsHandler.h"
#include "shell/AppGlobalObjects.h"
#include "shell/AppRuntime.h"
#include "shell/AppSettings.h"
#include "shell/BrowserSettings.h"
#include "shell/CommandLineCommandsHandler.h"
#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/TransfersConfiguration.h"

#include <iostream>
#include <utility>

namespace ferrovan {

namespace {

constexpr const char* kRun = "ferrovan::FerrovanApplicationBase::run: ";

void logRun(Poco::Message::Priority priority, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), priority, kRun + text);
}

} // namespace

FerrovanApplicationBase::FerrovanApplicationBase(const CommandLineArguments& arguments, std::string executablePath)
    : m_arguments(arguments), m_executablePath(std::move(executablePath))
{
}

FerrovanApplicationBase::~FerrovanApplicationBase() = default;

void FerrovanApplicationBase::closeApplication()
{
    if (m_runtime)
        m_runtime->quit();
}

std::unique_ptr<IAppBundleInfo> FerrovanApplicationBase::createBundleInfo()
{
    return createAppBundleInfo();
}

int FerrovanApplicationBase::run()
{
    m_bundleInfo = Poco::SharedPtr<IAppBundleInfo>(createBundleInfo().release());
    m_environment = new AppEnvironment(m_bundleInfo, m_executablePath, m_arguments.stringOptions);
    // Without an absolute data folder every path would be relative to the working folder, and a
    // reset command would delete files there.
    if (m_environment->getAppDataDirectory().empty()) {
        std::cerr << "Ferrovan: no folder for the application's data (set HOME or XDG_DATA_HOME)" << std::endl;
        return kExitNoDataFolder;
    }
    configureTransfers(*m_environment);
    const AppGlobalObjects globals{m_environment, fv_transfers::CFvTransfersGlobalConfig::getInstance(),
                                   &m_delayedLogger};
    const int exitCode = startAndRun(globals);
    actOnExitFlags(globals);
    CFerrovanLogger::destroyInstance();
    m_runtime.reset();
    return exitCode;
}

int FerrovanApplicationBase::startAndRun(const AppGlobalObjects& globals)
{
    CommandLineCommandsHandler commands(m_arguments, globals);
    commands.waitForPreviousProcess();
    if (!acquireInstanceGuard())
        return handOver();
    commands.runCommands();

    CFerrovanLogger::setLogFilePath(m_environment->getAppLogFilePath());
    replayDelayedMessages(m_delayedLogger, CFerrovanLogger::getInstance());
    afterCommandLineCommands();

    logRun(Poco::Message::PRIO_INFORMATION, "******************* Starting Ferrovan *******************");
    if (m_environment->isTestMode())
        logRun(Poco::Message::PRIO_INFORMATION, "Test mode is on (FV_TEST_MODE=1)");
    logRun(Poco::Message::PRIO_INFORMATION, "Initializing fv-transfers!");
    if (!fv_transfers::CFvTransfersInitializer::initialize())
        logRun(Poco::Message::PRIO_ERROR, "Failed to initialize fv-transfers!");

    m_settings = new AppSettings(m_environment->getSettingsFilePath());
    m_exitFlags = new AppExitFlags();
    createMenuController();
    createCefApp();
    const int exitCode = runToolkit();

    logRun(Poco::Message::PRIO_INFORMATION, "******************* Exiting Ferrovan *******************");
    fv_transfers::CFvTransfersInitializer::unitialize();
    return exitCode;
}

int FerrovanApplicationBase::handOver()
{
    const int exitCode = handOverToRunningInstance();
    for (const Poco::Message& message : m_delayedLogger.getMessages())
        std::cerr << message.getText() << std::endl;
    return exitCode;
}

int FerrovanApplicationBase::runToolkit()
{
    m_runtime = createRuntime();
    const int helperExit = m_runtime->executeProcess();
    if (helperExit >= 0)
        return helperExit;
    int exitCode = 0;
    if (m_runtime->initialize(fillBrowserSettings(*m_environment))) {
        if (beforeMessageLoop()) {
            m_runtime->runMessageLoop();
        } else {
            logRun(Poco::Message::PRIO_ERROR, "Unable to create the main window");
            exitCode = kExitNoMainWindow;
        }
        afterMessageLoop();
    } else {
        // Nothing of the toolkit may be touched now; the shutdown half still runs.
        logRun(Poco::Message::PRIO_ERROR, "Unable to start the user interface (is there a display?)");
        exitCode = kExitNoDisplay;
    }
    m_runtime->shutdown();
    return exitCode;
}

void FerrovanApplicationBase::actOnExitFlags(const AppGlobalObjects& globals)
{
    // Before the log ends, so that a failed restart is written down.
    if (!m_exitFlags)
        return;
    try {
        AppExitFlagsHandler(CFerrovanLogger::getInstance()).handleFlags(*m_exitFlags, globals);
    } catch (const std::exception& e) {
        logRun(Poco::Message::PRIO_ERROR, "Exception caught when handling exit flags: " + exceptionText(e));
    } catch (...) {
        logRun(Poco::Message::PRIO_ERROR, "Unknown exception caught when handling exit flags");
    }
}

} // namespace ferrovan
