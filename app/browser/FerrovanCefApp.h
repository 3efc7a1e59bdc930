#pragma once

#include "browser/FvCefHandler.h"
#include "browser/RootAppWindow.h"
#include "shell/BrowserSettings.h"
#include "shell/HandOffTarget.h"
#include "shell/NativeUiDataHolder.h"

#include <Poco/SharedPtr.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ferrovan {
class AppEnvironment;
class AppSettings;
class GlobalTransferProgressReporter;
class IApplicationMenuCallback;
class IGlobalProgressBar;
} // namespace ferrovan

// The browser side of the program: it makes the client handler, the main window with its browser
// (the loading page first, the web application once the handler loads it), the dock's progress
// bar and the reporter that feeds it. It is the main window's holder for dialogs and the target of
// what other programs hand over. UI thread only.
class FerrovanCefApp : public FvCefHandler::IEventCallback,
                       public ferrovan::INativeUiDataHolder,
                       public ferrovan::IHandOffTarget {
public:
    struct Options {
        FvCefHandler::Parts handlerParts;
        // The bridge names the page's extension defines; by default the program's own.
        std::function<std::vector<std::string>()> bridgeNames;
        // Empty: the extension of this build or installation.
        std::string extensionsDirectory;
        // Called once, when the window first shows.
        std::function<void()> mainWindowShown;
        Options();
    };

    // `menuCallback` is borrowed and outlives the object; null: no menu bar.
    FerrovanCefApp(Poco::SharedPtr<ferrovan::AppEnvironment> environment,
                   Poco::SharedPtr<ferrovan::AppSettings> settings, ferrovan::IApplicationMenuCallback* menuCallback,
                   ferrovan::BrowserSettings browserSettings, Options options = Options());
    ~FerrovanCefApp() override;
    FerrovanCefApp(const FerrovanCefApp&) = delete;
    FerrovanCefApp& operator=(const FerrovanCefApp&) = delete;

    // False when the main window could not be made (logged): the program has nothing to show.
    bool OnContextInitialized();

    void* getNativeWindow() override;
    void activateMainWindow() override;
    // The window's own close, which closes the browser through the handler; without a window the
    // browsers are closed at once.
    void closeMainWindow();
    // Null before OnContextInitialized.
    FvCefHandler* getClientHandler() const { return m_clientHandler.get(); }

    // FvCefHandler::IEventCallback
    void onPageLoaded(fvcef::CefRefPtr<fvcef::CefBrowser> browser, fvcef::CefRefPtr<fvcef::CefFrame> frame,
                      int statusCode) override;
    ferrovan::INativeUiDataHolder* mainWindow() override { return this; }

    // IHandOffTarget: the handler's, the window raised here.
    bool isAppInitialized() override;
    void navigateToNewMessage() override;
    void navigateToNewShare() override;
    void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) override;
    void storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer) override;

private:
    Poco::SharedPtr<ferrovan::AppEnvironment> m_environment;
    Poco::SharedPtr<ferrovan::AppSettings> m_settings;
    ferrovan::IApplicationMenuCallback* m_menuCallback; // not owned
    ferrovan::BrowserSettings m_browserSettings;
    Options m_options;

    fvcef::CefRefPtr<FvCefHandler> m_clientHandler;
    fvcef::CefRefPtr<ferrovan::RootAppWindow> m_rootWindow;
    std::unique_ptr<ferrovan::IGlobalProgressBar> m_progressBar;
    std::unique_ptr<ferrovan::GlobalTransferProgressReporter> m_progressReporter;
    bool m_shown = false;
};
