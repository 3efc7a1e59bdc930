#include "browser/FerrovanCefApp.h"

#include "bridge/GlobalTransferProgressReporter.h"
#include "bridge/QueryHandlerRegistration.h"
#include "bridge/QueryHandlerRegistry.h"
#include "browser/LocalPages.h"
#include "browser/TestEvents.h"
#include "browser/WebAppUrl.h"
#include "browser/WindowPlacement.h"
#include "browser/host/CefTask.h"
#include "shell/AppEnvironment.h"
#include "shell/AppSettings.h"
#include "shell/ExceptionText.h"
#include "shell/FerrovanLogger.h"
#include "shell/GlobalProgressBar.h"

#include <Poco/Exception.h>

#include <utility>

using namespace ferrovan;

namespace {

void logAt(Poco::Message::Priority priority, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), priority, text);
}

std::vector<std::string> programBridgeNames()
{
    // The names alone: the handlers come with the browser.
    registerQueryHandlers(false);
    std::vector<std::string> names;
    for (const auto& entry : QueryHandlerRegistry::getInstance())
        names.push_back(entry.first);
    QueryHandlerRegistry::getInstance().clear();
    return names;
}

} // namespace

FerrovanCefApp::Options::Options() : bridgeNames(programBridgeNames) {}

FerrovanCefApp::FerrovanCefApp(Poco::SharedPtr<AppEnvironment> environment, Poco::SharedPtr<AppSettings> settings,
                               IApplicationMenuCallback* menuCallback, BrowserSettings browserSettings, Options options)
    : m_environment(std::move(environment)), m_settings(std::move(settings)), m_menuCallback(menuCallback),
      m_browserSettings(std::move(browserSettings)), m_options(std::move(options))
{
}

FerrovanCefApp::~FerrovanCefApp()
{
    // The reporter drives the bar: it goes first.
    m_progressReporter.reset();
    m_progressBar.reset();
    m_rootWindow = nullptr;
    m_clientHandler = nullptr;
}

bool FerrovanCefApp::OnContextInitialized()
{
    try {
        if (m_environment.isNull() || m_settings.isNull())
            throw Poco::NullPointerException("the environment and the settings are needed");
        const fvcef::CefRefPtr<FvCefHandler> handler(
            new FvCefHandler(m_environment, m_settings, this, m_options.handlerParts));

        const ScreenRect saved{m_settings->getLeft(), m_settings->getTop(), m_settings->getWidth(),
                               m_settings->getHeight()};
        ScreenRect corrected;
        ScreenRect bounds = saved;
        if (!checkWindowPlacement(saved, getDisplayWorkAreas(), corrected, CFerrovanLogger::getInstance())) {
            m_settings->setWindowRect(corrected.y, corrected.x, corrected.width, corrected.height);
            bounds = corrected;
        }

        const std::string url = localPageUrl(kLoadingPage);
        logAt(Poco::Message::PRIO_INFORMATION, "Loading initial html using URL: " + url);

        RootWindowConfig config;
        config.bounds = bounds;
        config.maximized = m_settings->isMaximized();
        config.menuCallback = m_menuCallback;
        config.browserSettings = m_browserSettings;
        config.bridgeNames = m_options.bridgeNames ? m_options.bridgeNames() : std::vector<std::string>();
        config.webAppUrl = getWebAppUrl(*m_environment);
        config.resourcesDirectory = m_environment->getResourcesDirectory();
        config.extensionsDirectory = m_options.extensionsDirectory;
        m_rootWindow = createRootAppWindow(config);
        if (!m_rootWindow) {
            logAt(Poco::Message::PRIO_WARNING, "Failed to create root app window!");
            return false;
        }
        m_clientHandler = handler;
        if (!m_rootWindow->addBrowserView(handler, url)) {
            logAt(Poco::Message::PRIO_ERROR, "FerrovanCefApp::OnContextInitialized: Failed to create the browser!");
            return false;
        }

        m_progressBar = createGlobalProgressBar(this);
        m_progressReporter = std::make_unique<GlobalTransferProgressReporter>(m_progressBar.get());
        handler->setProgressReporters(m_progressReporter.get(), m_progressBar.get());
        return true;
    } catch (const std::exception& e) {
        logAt(Poco::Message::PRIO_ERROR, "FerrovanCefApp::OnContextInitialized: Exception: " + exceptionText(e));
    }
    return false;
}

void* FerrovanCefApp::getNativeWindow()
{
    return m_rootWindow ? m_rootWindow->getNativeWindow() : nullptr;
}

void FerrovanCefApp::activateMainWindow()
{
    if (!m_rootWindow)
        return;
    // A hand-over before the first page showed the window waits for that page.
    if (!m_shown)
        return;
    m_rootWindow->bringToFront();
    logTestEvent("activate");
}

void FerrovanCefApp::closeMainWindow()
{
    if (m_rootWindow && m_rootWindow->getNativeWindow() != nullptr && m_clientHandler && !m_clientHandler->isClosed()) {
        m_rootWindow->close();
        return;
    }
    if (m_clientHandler && !m_clientHandler->isClosed())
        m_clientHandler->CloseAllBrowsers(true);
    else
        // Nothing is left that would end the loop.
        fvcef::cef_quit_message_loop();
}

void FerrovanCefApp::onPageLoaded(fvcef::CefRefPtr<fvcef::CefBrowser>, fvcef::CefRefPtr<fvcef::CefFrame>, int)
{
    // Shown once, when the first page is there; later loads do not take the focus.
    if (m_shown || !m_rootWindow)
        return;
    m_shown = true;
    m_rootWindow->activate();
    logTestEvent("window-shown");
    if (m_options.mainWindowShown)
        m_options.mainWindowShown();
}

bool FerrovanCefApp::isAppInitialized()
{
    return m_clientHandler && m_clientHandler->isAppInitialized();
}

void FerrovanCefApp::navigateToNewMessage()
{
    if (m_clientHandler)
        m_clientHandler->navigateToNewMessage();
}

void FerrovanCefApp::navigateToNewShare()
{
    if (m_clientHandler)
        m_clientHandler->navigateToNewShare();
}

void FerrovanCefApp::filesDropped(const std::list<std::string>& paths, bool complete, bool defer)
{
    if (m_clientHandler)
        m_clientHandler->filesDropped(paths, complete, defer);
}

void FerrovanCefApp::storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer)
{
    if (m_clientHandler)
        m_clientHandler->storePendingFiles(paths, complete, defer);
}
