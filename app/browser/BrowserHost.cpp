#include "browser/BrowserHost.h"

#include "browser/ApplicationMenuController.h"
#include "browser/BrowserLog.h"
#include "browser/FerrovanCefApp.h"
#include "browser/TestEvents.h"
#include "browser/host/CefTask.h"
#include "shell/AppEnvironment.h"

#include <cstdlib>

namespace ferrovan {

namespace {

class ProgramBrowserHost : public IBrowserHost {
public:
    explicit ProgramBrowserHost(const BrowserHostContext& context)
        : m_uiThread(fvcef::CefStartUiThread()), m_browserLog(context.browserSettings.logFilePath),
          m_menu(context.exitFlags, context.globals),
          m_app(context.globals.environment, context.settings, &m_menu, context.browserSettings, options(context))
    {
        m_menu.setApplication(context.application);
        m_menu.setNativeUiHolder(&m_app);
        m_menu.setWebAppLookup([this]() -> IWebAppNavigator* { return m_app.getClientHandler(); });
    }

    bool start() override { return m_app.OnContextInitialized(); }
    void closeMainWindow() override { m_app.closeMainWindow(); }
    void* getNativeWindow() override { return m_app.getNativeWindow(); }
    bool isAppInitialized() override { return m_app.isAppInitialized(); }
    void navigateToNewMessage() override { m_app.navigateToNewMessage(); }
    void navigateToNewShare() override { m_app.navigateToNewShare(); }
    void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) override
    {
        m_app.filesDropped(paths, complete, defer);
    }
    void storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer) override
    {
        m_app.storePendingFiles(paths, complete, defer);
    }
    void activateMainWindow() override { m_app.activateMainWindow(); }

private:
    static FerrovanCefApp::Options options(const BrowserHostContext& context)
    {
        FerrovanCefApp::Options options;
        options.mainWindowShown = context.mainWindowShown;
        // Tests of the whole program need not wait the full close time-out.
        const char* watchdog = std::getenv("FV_TEST_CLOSE_WATCHDOG_MS");
        if (context.globals.environment && context.globals.environment->isTestMode() && watchdog != nullptr)
            options.handlerParts.closeWatchdogMs = static_cast<unsigned>(std::strtoul(watchdog, nullptr, 10));
        return options;
    }

    // Open while the browser lives.
    struct BrowserLogFile {
        explicit BrowserLogFile(const std::string& path) { BrowserLog::open(path); }
        ~BrowserLogFile() { BrowserLog::close(); }
    };

    std::unique_ptr<fvcef::CefUiThread> m_uiThread; // first in, last out: everything posts to it
    BrowserLogFile m_browserLog;
    ApplicationMenuController m_menu;
    FerrovanCefApp m_app; // after the menu it borrows
};

} // namespace

std::unique_ptr<IBrowserHost> createBrowserHost(const BrowserHostContext& context)
{
    setTestEventsEnabled(context.globals.environment && context.globals.environment->isTestMode());
    return std::make_unique<ProgramBrowserHost>(context);
}

} // namespace ferrovan
