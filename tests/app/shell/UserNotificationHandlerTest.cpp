#include "shell/OsFileExplorer.h"
#include "shell/UserNotificationHandler.h"
#include "shell/linux/NotificationActionListenerLinux.h"

#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/DbusMock.h"
#include "support/gui/MainContextWait.h"

#include "AppConfig.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char* const kDaemon = "org.freedesktop.Notifications";
const char* const kDaemonPath = "/org/freedesktop/Notifications";

struct NotifyCall {
    std::string appName;
    guint32 replacesId = 0;
    std::string icon;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
    std::string desktopEntry;
    gint32 timeout = 0;
};

NotifyCall toNotifyCall(const std::vector<fv_test::VariantPtr>& arguments)
{
    NotifyCall call;
    call.appName = g_variant_get_string(arguments.at(0).get(), nullptr);
    call.replacesId = g_variant_get_uint32(arguments.at(1).get());
    call.icon = g_variant_get_string(arguments.at(2).get(), nullptr);
    call.summary = g_variant_get_string(arguments.at(3).get(), nullptr);
    call.body = g_variant_get_string(arguments.at(4).get(), nullptr);
    const gchar** actions = g_variant_get_strv(arguments.at(5).get(), nullptr);
    for (const gchar** action = actions; *action; ++action)
        call.actions.emplace_back(*action);
    g_free(actions);
    const gchar* entry = nullptr;
    if (g_variant_lookup(arguments.at(6).get(), "desktop-entry", "&s", &entry))
        call.desktopEntry = entry;
    call.timeout = g_variant_get_int32(arguments.at(7).get());
    return call;
}

// The notification daemon of python3-dbusmock on the wrapper's session bus, for the life of
// the object. It records every call and emits the signals the test asks for.
class FakeNotificationDaemon {
public:
    FakeNotificationDaemon() : m_mock(kDaemon, {"--template", "notification_daemon"}) {}

    std::vector<NotifyCall> notifyCalls()
    {
        std::vector<NotifyCall> result;
        for (const std::vector<fv_test::VariantPtr>& arguments : m_mock.argumentsOf(kDaemonPath, "Notify"))
            result.push_back(toNotifyCall(arguments));
        return result;
    }

    // Runs the main context (where the notifier's answers arrive) until `count` calls were made.
    std::vector<NotifyCall> waitForNotifyCalls(std::size_t count)
    {
        std::vector<NotifyCall> calls;
        fv_test::runMainContextUntil([&] {
            calls = notifyCalls();
            return calls.size() >= count;
        });
        return calls;
    }

    void emitActionInvoked(guint32 id, const char* action)
    {
        m_mock.emitSignal(kDaemonPath, kDaemon, "ActionInvoked", "us",
                          {g_variant_new_uint32(id), g_variant_new_string(action)});
    }
    void emitClosed(guint32 id)
    {
        m_mock.emitSignal(kDaemonPath, kDaemon, "NotificationClosed", "uu",
                          {g_variant_new_uint32(id), g_variant_new_uint32(2)});
    }

private:
    fv_test::DbusMock m_mock;
};

// Stands in for the desktop's browser while the test runs.
class RecordingOpener {
public:
    RecordingOpener()
    {
        ferrovan::CNotificationActionListenerLinux::getInstance().setUrlOpener([this](const std::string& url) {
            std::lock_guard<std::mutex> lock(m_lock);
            m_urls.push_back(url);
            return true;
        });
    }
    ~RecordingOpener() { ferrovan::CNotificationActionListenerLinux::getInstance().setUrlOpener(nullptr); }
    RecordingOpener(const RecordingOpener&) = delete;
    RecordingOpener& operator=(const RecordingOpener&) = delete;

    std::vector<std::string> waitFor(std::size_t count)
    {
        fv_test::runMainContextUntil([&] { return urls().size() >= count; });
        return urls();
    }

private:
    std::vector<std::string> urls()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_urls;
    }

    std::mutex m_lock;
    std::vector<std::string> m_urls;
};

// Like the bridge: a notifier for each event, gone right after it.
void notifyOnce(const std::string& title, const std::string& message, const std::string& url)
{
    ferrovan::createUserNotificationHandler()->notify({title, message, url});
}

TEST(UserNotificationHandler, ShowsTheEventAndOffersToOpenOnlyWebAddresses)
{
    struct Case {
        std::string url;
        bool openable;
    };
    const std::vector<Case> cases = {
        {"https://example.com/transfers?id=7&x=%20", true},
        {"HTTP://example.com/", true},
        {"", false},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
        {"/bin/sh", false},
        {"smb://server/share", false},
        {"https:///no-host", false},
    };
    fv_test::Watchdog watchdog("notifications", std::chrono::seconds(90));
    FakeNotificationDaemon daemon;
    for (std::size_t i = 0; i < cases.size(); ++i)
        notifyOnce("Title " + std::to_string(i), "Message é " + std::to_string(i), cases[i].url);
    const std::vector<NotifyCall> calls = daemon.waitForNotifyCalls(cases.size());
    ASSERT_EQ(calls.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].url);
        EXPECT_EQ(calls[i].appName, FV_PRODUCT_NAME);
        EXPECT_EQ(calls[i].replacesId, 0u);
        EXPECT_EQ(calls[i].icon, FV_APP_ID);
        EXPECT_EQ(calls[i].summary, "Title " + std::to_string(i));
        EXPECT_EQ(calls[i].body, "Message é " + std::to_string(i));
        const std::vector<std::string> actions =
            cases[i].openable ? std::vector<std::string>{"default", "Open"} : std::vector<std::string>{};
        EXPECT_EQ(calls[i].actions, actions);
        EXPECT_EQ(calls[i].desktopEntry, FV_APP_ID);
        EXPECT_EQ(calls[i].timeout, -1);
    }
}

TEST(UserNotificationHandler, ActivatingANotificationOpensItsWebAddressUntilItIsClosed)
{
    const std::string first = "https://example.com/first?a=1";
    const std::string second = "http://example.com/second";
    fv_test::Watchdog watchdog("notification actions", std::chrono::seconds(90));
    FakeNotificationDaemon daemon;
    RecordingOpener browser;
    notifyOnce("Local", "not a web address", "file:///etc/passwd"); // id 1
    notifyOnce("Web", "opens", first);                              // id 2
    ASSERT_EQ(daemon.waitForNotifyCalls(2).size(), 2u);

    // The daemon's signals reach the listener in order, after the answers to the calls: once
    // the last is handled, so are those before it.
    daemon.emitActionInvoked(1, "default");
    daemon.emitActionInvoked(2, "Open");
    daemon.emitActionInvoked(99, "default");
    daemon.emitActionInvoked(2, "default");
    EXPECT_EQ(browser.waitFor(1), std::vector<std::string>{first});

    daemon.emitClosed(2);
    daemon.emitActionInvoked(2, "default");
    notifyOnce("Web", "opens too", second); // id 3
    ASSERT_EQ(daemon.waitForNotifyCalls(3).size(), 3u);
    daemon.emitActionInvoked(3, "default");
    EXPECT_EQ(browser.waitFor(2), (std::vector<std::string>{first, second}));
}

TEST(UserNotificationHandler, ARestartedDaemonsIdsNeverOpenTheOldDaemonsAddresses)
{
    const std::string old = "https://example.com/old";
    const std::string current = "https://example.com/current";
    fv_test::Watchdog watchdog("notification daemon restart", std::chrono::seconds(90));
    RecordingOpener browser;
    {
        FakeNotificationDaemon daemon;
        notifyOnce("Web", "shown by the first daemon", old); // its id 1
        ASSERT_EQ(daemon.waitForNotifyCalls(1).size(), 1u);
    } // ends without closing its notification
    FakeNotificationDaemon daemon;
    notifyOnce("Local", "not a web address", "file:///etc/passwd"); // id 1 again
    notifyOnce("Web", "opens", current);                            // id 2
    ASSERT_EQ(daemon.waitForNotifyCalls(2).size(), 2u);
    daemon.emitActionInvoked(1, "default");
    daemon.emitActionInvoked(2, "default");
    EXPECT_EQ(browser.waitFor(1), std::vector<std::string>{current});
}

TEST(DesktopUrlOpener, RefusesEverythingButWebAddresses)
{
    for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "/bin/sh", "smb://server/share", ""}) {
        SCOPED_TRACE(url);
        EXPECT_FALSE(ferrovan::openWebPage(url));
    }
}

// In a child of its own: the bus connection is shared process-wide, and this has to be the
// first bus call of the process.
TEST(UserNotificationHandlerDeathTest, WithoutASessionBusNothingIsShown)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
            notifyOnce("Title", "Message", "https://example.com/");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
