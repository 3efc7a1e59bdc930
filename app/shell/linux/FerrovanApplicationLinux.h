#pragma once

#include "shell/BrowserHost.h"
#include "shell/FerrovanApplicationBase.h"
#include "shell/HandOffHub.h"

#include <memory>
#include <string>

namespace ferrovan {

class AppRuntimeLinux;
class CHandoffServiceLinux;
class IInstanceGuard;
class OstrelController;
class Updater;

// The Linux program: GTK under the run, the instance guard with the hand-off on the session bus,
// and the updater beside the loop. The browser host takes its place in the slots as it arrives.
class FerrovanApplicationLinux : public FerrovanApplicationBase {
public:
    // `browserHost` makes the main window once the toolkit runs.
    FerrovanApplicationLinux(const CommandLineArguments& arguments, std::string executablePath,
                             BrowserHostFactory browserHost);
    ~FerrovanApplicationLinux() override;

    // The menu's "check for updates": always asks, whatever the automatic switches say.
    void checkForUpdates() override;
    // Through the main window's own close, so the page and the transfers end in order.
    void closeApplication() override;

protected:
    std::unique_ptr<IAppRuntime> createRuntime() override;
    // Takes the guard, then at once owns the program's name on the session bus, so that a start
    // that finds the guard taken finds the hand-off soon after.
    bool acquireInstanceGuard() override;
    // ActivateApp to the running instance; when it cannot be reached (another login session, no
    // bus), the user is told and the start ends with kExitInstanceUnreachable.
    int handOverToRunningInstance() override;
    void createCefApp() override {}
    bool beforeMessageLoop() override;
    void afterMessageLoop() override;

private:
    void logGuard(Poco::Message::Priority priority, const std::string& text);

    // Declared in the order they must outlive each other: the guard goes last.
    std::unique_ptr<IInstanceGuard> m_instanceGuard;
    HandOffHub m_handOffHub;
    std::unique_ptr<CHandoffServiceLinux> m_handOffService;
    bool m_handOffServed = false;
    BrowserHostFactory m_browserHostFactory;
    std::unique_ptr<IBrowserHost> m_browserHost;
    std::unique_ptr<OstrelController> m_ostrelController;
    // The runtime the base owns; valid from createRuntime to the end of the run.
    AppRuntimeLinux* m_gtkRuntime = nullptr;
    std::unique_ptr<Updater> m_updater;
};

} // namespace ferrovan
