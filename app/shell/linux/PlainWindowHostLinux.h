#pragma once

#include "shell/HandOffTarget.h"

namespace ferrovan {

class AppRuntimeLinux;
class ILogger;

// The hand-off's target while the main window holds no page yet: it brings the window forward;
// routes and files have no page to reach, so they are logged and let go.
class PlainWindowHostLinux : public IHandOffTarget {
public:
    // Both must outlive the host; `log` may be null.
    PlainWindowHostLinux(const AppRuntimeLinux& runtime, ILogger* log);

    bool isAppInitialized() override { return false; }
    void navigateToNewMessage() override;
    void navigateToNewShare() override;
    void filesDropped(const std::list<std::string>& paths, bool complete, bool defer) override;
    void storePendingFiles(const std::list<std::string>& paths, bool complete, bool defer) override;
    void activateMainWindow() override;

private:
    void noPage(const std::string& what);

    const AppRuntimeLinux& m_runtime;
    ILogger* m_log;
};

} // namespace ferrovan
