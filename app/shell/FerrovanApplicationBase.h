#pragma once

#include "shell/ApplicationControllerCallback.h"
#include "shell/CommandLineArguments.h"
#include "shell/InMemoryLogger.h"

#include <Poco/SharedPtr.h>

#include <memory>
#include <string>

namespace ferrovan {

class AppEnvironment;
class AppExitFlags;
class AppSettings;
class IAppBundleInfo;
class IAppRuntime;
struct AppGlobalObjects;

// The program's whole life, in a fixed order: environment, library configuration, the wait for
// a replaced process, the instance guard, the reset commands, the log, the library, the
// settings, the toolkit and its loop, then the shutdown half, which runs however the loop ended
// (window closed, SIGTERM) or did not start (no display). Runs on the main thread, which becomes
// the UI thread.
class FerrovanApplicationBase : public IApplicationControllerCallback {
public:
    static constexpr int kExitNoDataFolder = 1;
    static constexpr int kExitNoDisplay = 2;
    // Another instance holds the data, and this start could not reach it.
    static constexpr int kExitInstanceUnreachable = 3;
    static constexpr int kExitNoMainWindow = 4;

    // `arguments` is borrowed for the object's life.
    FerrovanApplicationBase(const CommandLineArguments& arguments, std::string executablePath);
    ~FerrovanApplicationBase() override;
    FerrovanApplicationBase(const FerrovanApplicationBase&) = delete;
    FerrovanApplicationBase& operator=(const FerrovanApplicationBase&) = delete;

    void checkForUpdates() override {}
    void closeApplication() override;

    // The process's exit code.
    virtual int run();

protected:
    virtual std::unique_ptr<IAppBundleInfo> createBundleInfo();
    virtual std::unique_ptr<IAppRuntime> createRuntime() = 0;
    // Between the wait for a replaced process and the reset commands, so that data is removed
    // only by the one instance that holds the guard. False: another instance runs.
    virtual bool acquireInstanceGuard() { return true; }
    // What a start that found another instance does instead of everything after the guard; the
    // process's exit code. Its log lines go to stderr: the log file is the other instance's.
    virtual int handOverToRunningInstance() { return 0; }
    virtual void afterCommandLineCommands() {}
    virtual void createMenuController() {}
    virtual void createCefApp() = 0;
    // False: there is no main window; the loop does not run and the run ends with kExitNoMainWindow.
    virtual bool beforeMessageLoop() = 0;
    virtual void afterMessageLoop() = 0;

    const CommandLineArguments& arguments() const { return m_arguments; }
    // Valid from the step that makes each until the end of run().
    Poco::SharedPtr<IAppBundleInfo> bundleInfo() const { return m_bundleInfo; }
    Poco::SharedPtr<AppEnvironment> environment() const { return m_environment; }
    Poco::SharedPtr<AppSettings> settings() const { return m_settings; }
    Poco::SharedPtr<AppExitFlags> exitFlags() const { return m_exitFlags; }
    InMemoryLogger& delayedLogger() { return m_delayedLogger; }

private:
    int startAndRun(const AppGlobalObjects& globals);
    int handOver();
    int runToolkit();
    void actOnExitFlags(const AppGlobalObjects& globals);

    const CommandLineArguments& m_arguments;
    const std::string m_executablePath;
    InMemoryLogger m_delayedLogger;
    Poco::SharedPtr<IAppBundleInfo> m_bundleInfo;
    Poco::SharedPtr<AppEnvironment> m_environment;
    Poco::SharedPtr<AppSettings> m_settings;
    Poco::SharedPtr<AppExitFlags> m_exitFlags;
    std::unique_ptr<IAppRuntime> m_runtime;
};

} // namespace ferrovan
