#pragma once

#include "shell/AppcastFeed.h"
#include "shell/FeedFetcher.h"

#include <Poco/SharedPtr.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ferrovan {

class AppSettings;
class IAppBundleInfo;
class IUpdaterDialog;
class IUpdaterLoop;
struct CommandLineArguments;

// Looks for a newer release in the update feed and tells the user; it never downloads or
// installs anything (packages install the program). The feed is fetched on the updater's own
// worker thread; what it found is told on the UI thread. Every public call is made on the UI
// thread.
class Updater {
public:
    static constexpr unsigned kCheckIntervalSeconds = 14400;

    // The platform's pieces; `caFile` trusted beside the system's CAs.
    struct Parts {
        std::unique_ptr<IUpdaterLoop> loop;
        std::unique_ptr<IUpdaterDialog> dialog;
        std::string caFile;
        FeedFetcher::Limits limits;
    };

    // The platform's loop and dialog, and the transfer library's extra CA file.
    explicit Updater(Poco::SharedPtr<IAppBundleInfo> bundleInfo);
    Updater(Poco::SharedPtr<IAppBundleInfo> bundleInfo, Parts parts);
    ~Updater();
    Updater(const Updater&) = delete;
    Updater& operator=(const Updater&) = delete;

    // The user's switch in the settings and "--disable-autoupdate" (with any value) both turn
    // the automatic checks off; a check the user asks for still runs.
    static bool automaticChecksAllowed(const AppSettings& settings, const CommandLineArguments& arguments);
    // When allowed: one silent check now and one every kCheckIntervalSeconds. True if started.
    bool startAutomaticChecks(const AppSettings& settings, const CommandLineArguments& arguments);

    // A newer release is offered; anything else is only logged.
    void checkForUpdatesSilently();
    // Also tells the user when there is nothing newer or the check failed.
    void checkForUpdatesWithUi();
    // Stops the schedule and waits for a running check, which the fetch's time-out ends however
    // slowly the feed's host answers; no result is told afterwards. Idempotent.
    void cleanup();

private:
    struct CheckResult {
        enum class Outcome { kNewer, kUpToDate, kFailed };
        Outcome outcome = Outcome::kFailed;
        AppcastItem newest;
        std::string error;
    };

    void startCheck(bool interactive);
    void runCheck();
    bool stopped();
    CheckResult check() const;
    void tell(const CheckResult& result, bool interactive);

    std::string m_feedUrl;
    std::string m_currentVersion;
    FeedFetcher m_fetcher;
    std::unique_ptr<IUpdaterLoop> m_loop;
    std::unique_ptr<IUpdaterDialog> m_dialog;
    bool m_scheduled = false;

    std::mutex m_mutex;
    bool m_running = false;
    bool m_interactive = false; // a check asked for with the user waiting joined the running one
    bool m_stopped = false;     // results posted before cleanup are dropped when they arrive

    std::thread m_worker; // started and joined on the UI thread
};

} // namespace ferrovan
