#include "browser/ApplicationMenuController.h"

#include "browser/WebAppNavigator.h"
#include "shell/AppEnvironment.h"
#include "shell/AppExitFlags.h"
#include "shell/ApplicationControllerCallback.h"
#include "shell/CommandLineParser.h"
#include "shell/DataKinds.h"
#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/Logger.h"

#include "core/config/FvTransfersGlobalConfig.h"

#include <Poco/Process.h>

#include <utility>
#include <vector>

namespace ferrovan {

namespace {

// The clear-data window's bits with the data kinds they stand for, in the order the restart
// takes them.
const struct {
    int bit;
    int kind;
} kClearedKinds[] = {
    {IClearAppDataWindow::kLocalTransfersDatabase, kLocalDatabase},
    {IClearAppDataWindow::kWebDataAndCache, kWebDataAndCache},
    {IClearAppDataWindow::kLogFiles, kLogs},
    {IClearAppDataWindow::kLocalSettings, kSettings},
};

// The confirmation's alert type.
constexpr int kQuestionType = 1;

void logMenu(Poco::Message::Priority priority, const std::string& function, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), priority, "ferrovan::ApplicationMenuController::" + function + ": " + text);
}

} // namespace

ApplicationMenuController::ApplicationMenuController(Poco::SharedPtr<AppExitFlags> exitFlags,
                                                     const AppGlobalObjects& globalObjects)
    : ApplicationMenuController(std::move(exitFlags), globalObjects, Parts())
{
}

ApplicationMenuController::ApplicationMenuController(Poco::SharedPtr<AppExitFlags> exitFlags,
                                                     const AppGlobalObjects& globalObjects, Parts parts)
    : m_exitFlags(std::move(exitFlags)), m_globals(globalObjects), m_parts(std::move(parts))
{
}

ApplicationMenuController::~ApplicationMenuController() = default;

void ApplicationMenuController::onMenuItem(int kind, const Poco::Any& argument)
{
    try {
        runMenuItem(kind, argument);
    } catch (const std::exception& e) {
        logMenu(Poco::Message::PRIO_ERROR, "onMenuItem",
                "Exception caughts when handling main menu item: " + exceptionText(e));
    }
}

bool ApplicationMenuController::onClearAppData(int dataBits)
{
    try {
        if ((dataBits & IClearAppDataWindow::kWebDataAndCache) != 0 && !clearingWebDataConfirmed())
            return false;
        queueRestart(dataBits);
    } catch (const std::exception& e) {
        logMenu(Poco::Message::PRIO_ERROR, "onClearAppData",
                "Exception while processing types of dat to clear: " + exceptionText(e));
    }
    return true;
}

void ApplicationMenuController::runMenuItem(int kind, const Poco::Any& argument)
{
    switch (kind) {
    case kExitItem:
        if (m_application != nullptr)
            m_application->closeApplication();
        break;
    case kSendFilesItem:
    case kShareFilesItem: navigate(kind); break;
    case kCheckForUpdatesItem:
        if (m_application != nullptr)
            m_application->checkForUpdates();
        break;
    case kClearAppDataItem: showClearDataWindow(); break;
    case kOpenLogsItem: openLogsFolder(); break;
    case kVerboseLoggingItem: setVerboseLogging(Poco::AnyCast<bool>(argument)); break;
    case kSubmitLogsItem: submitLogs(); break;
    case kAboutItem: showAbout(); break;
    default: break;
    }
}

void ApplicationMenuController::navigate(int kind)
{
    IWebAppNavigator* webApp = m_webApp ? m_webApp() : nullptr;
    if (webApp == nullptr) {
        logMenu(Poco::Message::PRIO_WARNING, "onMenuItem", "No web application to navigate");
        return;
    }
    if (kind == kSendFilesItem)
        webApp->navigateToNewMessage();
    else
        webApp->navigateToNewShare();
}

void ApplicationMenuController::showClearDataWindow()
{
    // Replacing the window while it runs would pull it from under its own loop.
    if (m_clearDataWindow && m_clearDataWindow->getNativeWindow() != nullptr)
        return;
    m_clearDataWindow = m_parts.clearDataWindow(this, m_nativeUiHolder);
    m_clearDataWindow->showModal();
    m_clearDataWindow.reset();
}

void ApplicationMenuController::openLogsFolder()
{
    if (!m_globals.environment)
        throw IncompleteGlobalObjects();
    m_parts.fileExplorer()->showInFolder(m_globals.environment->getAppDataDirectory());
}

void ApplicationMenuController::setVerboseLogging(bool on)
{
    CFerrovanLogger::setVerbose(on);
    if (m_globals.transfersConfig != nullptr)
        m_globals.transfersConfig->setVerboseLogging(on);
    logMenu(Poco::Message::PRIO_INFORMATION, "onMenuItem",
            std::string("Verbose logging ") + (on ? "enabled" : "disabled"));
}

void ApplicationMenuController::submitLogs()
{
    // The queue ends after the report's controller, which waits for a result still out.
    const std::unique_ptr<IUiTaskQueue> queue = m_parts.taskQueue();
    ReportIssueMenuController reports(m_globals, m_nativeUiHolder, *queue, m_parts.reportIssue);
    reports.showReportIssueDialog();
}

void ApplicationMenuController::showAbout()
{
    if (!m_globals.environment)
        throw IncompleteGlobalObjects();
    const AppEnvironment& environment = *m_globals.environment;
    m_parts.aboutDialog(m_nativeUiHolder, environment.getResourcesDirectory(), environment.getAppVersion())
        ->showModal();
}

bool ApplicationMenuController::clearingWebDataConfirmed()
{
    // Over the clear-data window while it is shown, so the question comes in front of it.
    INativeUiDataHolder* parent = m_clearDataWindow ? m_clearDataWindow.get() : m_nativeUiHolder;
    return m_parts.confirmDialog(parent)->confirm(kClearWebDataQuestion, kQuestionType);
}

void ApplicationMenuController::queueRestart(int dataBits)
{
    std::vector<std::string> arguments;
    for (const auto& cleared : kClearedKinds)
        if ((dataBits & cleared.bit) != 0)
            arguments.push_back(CommandLineParser::getOptionForDataType(cleared.kind));
    if (arguments.empty())
        return;
    arguments.push_back(CommandLineParser::getWaitForPidOption());
    arguments.push_back(std::to_string(Poco::Process::id()));
    m_exitFlags->pushFlag(AppExitFlags::kRestart, arguments);
    if (m_application != nullptr)
        m_application->closeApplication();
}

} // namespace ferrovan
