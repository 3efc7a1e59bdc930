#pragma once

#include "browser/ApplicationMenuCallback.h"
#include "shell/AboutDialog.h"
#include "shell/AppGlobalObjects.h"
#include "shell/ClearAppDataWindow.h"
#include "shell/ConfirmDialog.h"
#include "shell/OsFileExplorer.h"
#include "shell/ReportIssueMenuController.h"
#include "shell/UiTaskQueue.h"

#include <Poco/SharedPtr.h>

#include <functional>
#include <memory>
#include <string>

namespace ferrovan {

class AppExitFlags;
class IApplicationControllerCallback;
class INativeUiDataHolder;
class IWebAppNavigator;

// Carries out the main window's menu items (MenuItemKind) and the choice made in the
// clear-data window: clearing data queues a restart whose new process removes the data once this
// one has ended. Every call is made on the UI thread; dialogs are modal and live only for their
// command. A failing command is logged and the menu stays usable.
class ApplicationMenuController : public IApplicationMenuCallback, public IClearAppDataWindow::ICallback {
public:
    static constexpr const char* kClearWebDataQuestion =
        "Clearing web data will log you out. Are you sure you would like to clear that data?";

    // The platform's dialogs and services, made anew for each command.
    struct Parts {
        std::function<std::unique_ptr<IClearAppDataWindow>(IClearAppDataWindow::ICallback*, INativeUiDataHolder*)>
            clearDataWindow = createClearAppDataWindow;
        std::function<std::unique_ptr<IConfirmDialog>(INativeUiDataHolder*)> confirmDialog =
            [](INativeUiDataHolder* parent) { return createConfirmDialog(parent); };
        std::function<std::unique_ptr<IOsFileExplorer>()> fileExplorer = createOsFileExplorer;
        std::function<std::unique_ptr<IAboutDialog>(INativeUiDataHolder*, const std::string&, const std::string&)>
            aboutDialog = createAboutDialog;
        std::function<std::unique_ptr<IUiTaskQueue>()> taskQueue = createUiTaskQueue;
        ReportIssueMenuController::Parts reportIssue;
    };

    // Finds the browser host's navigation at each command; null while there is none.
    using WebAppLookup = std::function<IWebAppNavigator*()>;

    ApplicationMenuController(Poco::SharedPtr<AppExitFlags> exitFlags, const AppGlobalObjects& globalObjects);
    ApplicationMenuController(Poco::SharedPtr<AppExitFlags> exitFlags, const AppGlobalObjects& globalObjects,
                              Parts parts);
    ~ApplicationMenuController() override;
    ApplicationMenuController(const ApplicationMenuController&) = delete;
    ApplicationMenuController& operator=(const ApplicationMenuController&) = delete;

    // Each borrowed; set by the run as the objects come to be. Without an application, exit and
    // the update check do nothing; without a holder, dialogs have no parent.
    void setApplication(IApplicationControllerCallback* application) { m_application = application; }
    void setNativeUiHolder(INativeUiDataHolder* holder) { m_nativeUiHolder = holder; }
    void setWebAppLookup(WebAppLookup lookup) { m_webApp = std::move(lookup); }

    // A kind it does not know does nothing.
    void onMenuItem(int kind, const Poco::Any& argument) override;
    // Clearing web data asks first. False only when the user said no to that: nothing is queued
    // and the window stays open for another choice.
    bool onClearAppData(int dataBits) override;

private:
    void runMenuItem(int kind, const Poco::Any& argument);
    void navigate(int kind);
    void showClearDataWindow();
    void openLogsFolder();
    void setVerboseLogging(bool on);
    void submitLogs();
    void showAbout();
    bool clearingWebDataConfirmed();
    void queueRestart(int dataBits);

    Poco::SharedPtr<AppExitFlags> m_exitFlags;
    AppGlobalObjects m_globals;
    Parts m_parts;
    IApplicationControllerCallback* m_application = nullptr;
    INativeUiDataHolder* m_nativeUiHolder = nullptr;
    WebAppLookup m_webApp;
    std::unique_ptr<IClearAppDataWindow> m_clearDataWindow; // while it is shown
};

} // namespace ferrovan
