#include "shell/Updater.h"

#include "core/config/FvTransfersGlobalConfig.h"
#include "shell/AppBundleInfo.h"
#include "shell/AppSettings.h"
#include "shell/CommandLineArguments.h"
#include "shell/FerrovanLogger.h"
#include "shell/UpdaterDialog.h"
#include "shell/UpdaterLoop.h"

#include "AppConfig.h"

#include <exception>
#include <utility>

namespace ferrovan {

namespace {

constexpr const char* kUpToDate = FV_PRODUCT_NAME " is up to date.";
constexpr const char* kCheckFailed = "Could not check for updates.";

void logUpdater(const char* function, Poco::Message::Priority priority, const std::string& text)
{
    logLine(CFerrovanLogger::getInstance(), priority, std::string("ferrovan::Updater::") + function + ": " + text);
}

std::string bundleValue(IAppBundleInfo& bundleInfo, bool (IAppBundleInfo::*getter)(std::string&))
{
    std::string value;
    (bundleInfo.*getter)(value);
    return value;
}

Updater::Parts platformParts()
{
    Updater::Parts parts;
    parts.loop = createUpdaterLoop();
    parts.dialog = createUpdaterDialog();
    parts.caFile = fv_transfers::CFvTransfersGlobalConfig::getInstance()->getCaCertificatesFile();
    return parts;
}

} // namespace

Updater::Updater(Poco::SharedPtr<IAppBundleInfo> bundleInfo) : Updater(std::move(bundleInfo), platformParts()) {}

Updater::Updater(Poco::SharedPtr<IAppBundleInfo> bundleInfo, Parts parts)
    : m_feedUrl(bundleValue(*bundleInfo, &IAppBundleInfo::getAppcastUrl)),
      m_currentVersion(bundleValue(*bundleInfo, &IAppBundleInfo::getVersion)),
      m_fetcher(std::move(parts.caFile), parts.limits), m_loop(std::move(parts.loop)), m_dialog(std::move(parts.dialog))
{
}

Updater::~Updater()
{
    cleanup();
}

bool Updater::automaticChecksAllowed(const AppSettings& settings, const CommandLineArguments& arguments)
{
    return settings.isAutoUpdatesEnabled() &&
           arguments.stringOptions.count(CommandLineArguments::kDisableAutoupdate) == 0;
}

bool Updater::startAutomaticChecks(const AppSettings& settings, const CommandLineArguments& arguments)
{
    if (!automaticChecksAllowed(settings, arguments)) {
        logUpdater("startAutomaticChecks", Poco::Message::PRIO_INFORMATION, "Automatic update checks are off");
        return false;
    }
    if (m_scheduled)
        return true;
    m_scheduled = true;
    checkForUpdatesSilently();
    m_loop->startRepeating(kCheckIntervalSeconds, [this] { checkForUpdatesSilently(); });
    return true;
}

void Updater::checkForUpdatesSilently()
{
    startCheck(false);
}

void Updater::checkForUpdatesWithUi()
{
    startCheck(true);
}

void Updater::cleanup()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    if (m_scheduled) {
        m_loop->stopRepeating();
        m_scheduled = false;
    }
    if (m_worker.joinable())
        m_worker.join();
}

void Updater::startCheck(bool interactive)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped)
            return;
        // One check at a time; a user who asks meanwhile is told the running check's result.
        if (m_running) {
            m_interactive = m_interactive || interactive;
            return;
        }
        m_running = true;
        m_interactive = interactive;
    }
    // Not running, so the previous worker has finished or is just returning.
    if (m_worker.joinable())
        m_worker.join();
    m_worker = std::thread(&Updater::runCheck, this);
}

void Updater::runCheck()
{
    CheckResult result = check();
    bool interactive = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        interactive = m_interactive;
        m_running = false;
    }
    // The result travels by value: the worker may be joined before the task runs. The loop
    // drops its tasks when it ends, with this updater, so `this` is valid when one runs.
    m_loop->post([this, result = std::move(result), interactive] {
        if (!stopped())
            tell(result, interactive);
    });
}

bool Updater::stopped()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopped;
}

Updater::CheckResult Updater::check() const
{
    CheckResult result;
    try {
        const std::optional<VersionNumber> current = VersionNumber::parse(m_currentVersion);
        if (!current) {
            result.error = "the program's own version is not a number: " + m_currentVersion;
            return result;
        }
        const std::optional<AppcastRelease> newest = AppcastFeed::parse(m_fetcher.fetch(m_feedUrl)).newest();
        if (newest && *current < newest->version) {
            result.outcome = CheckResult::Outcome::kNewer;
            result.newest = newest->item;
        } else {
            result.outcome = CheckResult::Outcome::kUpToDate;
        }
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}

void Updater::tell(const CheckResult& result, bool interactive)
{
    switch (result.outcome) {
    case CheckResult::Outcome::kNewer: {
        const AppcastItem& item = result.newest;
        const std::string shown = item.shortVersion.empty() ? item.version : item.shortVersion;
        // The page first: it says what changed and where the packages are.
        const std::string page = item.releaseNotesLink.empty() ? item.enclosureUrl : item.releaseNotesLink;
        logUpdater("tell", Poco::Message::PRIO_INFORMATION,
                   "Version " + item.version + " (" + shown + ") is available; this is " + m_currentVersion);
        m_dialog->offerUpdate(FV_PRODUCT_NAME " " + shown + " is available. You have " + m_currentVersion + ".", page);
        break;
    }
    case CheckResult::Outcome::kUpToDate:
        logUpdater("tell", Poco::Message::PRIO_INFORMATION, kUpToDate);
        if (interactive)
            m_dialog->showMessage(kUpToDate);
        break;
    case CheckResult::Outcome::kFailed:
        logUpdater("tell", Poco::Message::PRIO_WARNING, std::string(kCheckFailed) + " " + result.error);
        if (interactive)
            m_dialog->showMessage(kCheckFailed);
        break;
    }
}

} // namespace ferrovan
