#include "app/shell/RecordingHandOffTarget.h"
#include "app/shell/RecordingLogger.h"
#include "app/shell/SessionBusClient.h"
#include "support/fixtures/ChildProcess.h"
#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/DbusMock.h"
#include "support/gui/MainContextWait.h"

#include "shell/AppController.h"
#include "shell/HandOffHub.h"
#include "shell/OstrelController.h"
#include "shell/linux/HandoffServiceLinux.h"
#include "shell/linux/InstanceHandOverLinux.h"

#include "AppConfig.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using ferrovan::CHandoffServiceLinux;
using ferrovan::CInstanceHandOverLinux;
using fv_test::RecordingHandOffTarget;
using Events = std::vector<std::string>;

namespace {

// The service on the session wrapper's private bus, over the hub and the program's handler.
class HandoffServiceLinuxTest : public ::testing::Test {
protected:
    HandoffServiceLinuxTest() { fv_test::writeFile(a, "a"); }

    void startService() { ASSERT_TRUE(service->start(&log)) << describe(log); }
    void registerHandler()
    {
        ASSERT_TRUE(controller.registerHandler());
        hub.mainWindowShown();
    }
    // `gdbus call` of `method` with `arguments` from a process of its own, as a client would;
    // its exit code once the call has been answered.
    int call(const std::string& method, const std::string& arguments = std::string())
    {
        std::vector<std::string> command{
            "call",          "--session",     "--dest",   FV_APP_ID,
            "--object-path", FV_HANDOFF_PATH, "--method", std::string(FV_HANDOFF_INTERFACE) + "." + method};
        if (!arguments.empty())
            command.push_back(arguments);
        fv_test::ChildProcess client("/usr/bin/gdbus", command);
        std::optional<int> exit;
        EXPECT_TRUE(fv_test::runMainContextUntil([&] { return (exit = client.waitExit(0ms)).has_value(); }, 60s));
        return exit.value_or(-1);
    }
    // A call from this process's own connection with any signature: the error's code, or -1
    // when it succeeded.
    int callWith(const std::string& method, GVariant* parameters)
    {
        struct Answer {
            bool done = false;
            int code = -1;
        } answer;
        g_dbus_connection_call(
            client.get(), FV_APP_ID, FV_HANDOFF_PATH, FV_HANDOFF_INTERFACE, method.c_str(), parameters, nullptr,
            G_DBUS_CALL_FLAGS_NO_AUTO_START, 20000, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* answer = static_cast<Answer*>(data);
                GError* error = nullptr;
                GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                if (reply)
                    g_variant_unref(reply);
                if (error && error->domain == G_DBUS_ERROR)
                    answer->code = error->code;
                else if (error)
                    answer->code = G_DBUS_ERROR_FAILED;
                g_clear_error(&error);
                answer->done = true;
            },
            &answer);
        EXPECT_TRUE(fv_test::runMainContextUntil([&] { return answer.done; }, 30s));
        return answer.code;
    }
    static std::string describe(const fv_test::RecordingLogger& log)
    {
        std::string text;
        for (const fv_test::LoggedLine& line : log.lines())
            text += line.text + "\n";
        return text;
    }

    fv_test::Watchdog watchdog{"hand-off service", 110s};
    fv_test::TempDir dir;
    const std::string a = dir.file("a b.txt");
    RecordingHandOffTarget target;
    fv_test::RecordingLogger log;
    ferrovan::HandOffHub hub;
    ferrovan::OstrelController controller{hub, new ferrovan::AppController(target, &log)};
    std::unique_ptr<CHandoffServiceLinux> service = std::make_unique<CHandoffServiceLinux>(hub, 300ms);
    fv_test::SessionBusClient client;
};

} // namespace

TEST_F(HandoffServiceLinuxTest, ServesSendShareAndActivateAppOnTheSessionBus)
{
    startService();
    registerHandler();
    target.ready = true;

    EXPECT_EQ(0, call("Send", "['" + a + "', 'relative/x']"));
    EXPECT_EQ(0, call("Share", "['" + a + "']"));
    EXPECT_EQ(0, call("Send", "@as []"));
    EXPECT_EQ(0, call("ActivateApp"));

    const Events expected{"route /message/new", "dropped " + a + " partial deferred",
                          "route /share/new",   "dropped " + a + " complete deferred",
                          "route /message/new", "activate"};
    EXPECT_EQ(expected, target.events);
}

TEST_F(HandoffServiceLinuxTest, CallsOfAnotherShapeAreRefusedAndNothingHappens)
{
    startService();
    registerHandler();
    struct Case {
        const char* method;
        GVariant* parameters;
        int error;
    };
    const gchar* const none[] = {nullptr};
    const Case cases[] = {
        {"Send", g_variant_new("(s)", a.c_str()), G_DBUS_ERROR_INVALID_ARGS},
        {"Share", g_variant_new("(^as)", none), -1},
        {"ActivateApp", g_variant_new("(s)", "x"), G_DBUS_ERROR_INVALID_ARGS},
        // The handler is the program's own: no client can replace it.
        {"SetOstrelHandler", g_variant_new("(s)", "x"), G_DBUS_ERROR_UNKNOWN_METHOD},
    };
    for (const Case& test : cases)
        EXPECT_EQ(test.error, callWith(test.method, test.parameters)) << test.method;
    EXPECT_EQ(Events{"route /share/new"}, target.events);
}

TEST_F(HandoffServiceLinuxTest, CallsBeforeTheHandlerIsSetWaitAndKeepTheirOrder)
{
    startService();
    EXPECT_EQ(0, call("ActivateApp"));
    EXPECT_EQ(0, call("Share", "['" + a + "']"));
    EXPECT_EQ(0, call("Send", "['" + a + "']"));
    EXPECT_TRUE(target.events.empty());

    registerHandler();

    const Events expected{"route /share/new", "stored " + a + " complete deferred", "route /message/new",
                          "stored " + a + " partial deferred", "activate"};
    EXPECT_EQ(expected, target.events);
}

TEST_F(HandoffServiceLinuxTest, ANameOwnedElsewhereKeepsTheServiceOffAndAnEndedServiceFreesIt)
{
    {
        fv_test::SessionBusClient other;
        GVariant* reply = other.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "RequestName", g_variant_new("(su)", FV_APP_ID, 4u), "(u)");
        g_variant_unref(reply);
        EXPECT_FALSE(service->start(&log));
        EXPECT_EQ(1, log.count(Poco::Message::PRIO_ERROR, "stays owned by another connection")) << describe(log);
    }
    ASSERT_TRUE(fv_test::DbusMock::awaitOwner(FV_APP_ID, false, 20s));
    startService();
    EXPECT_TRUE(fv_test::DbusMock::hasOwner(FV_APP_ID));

    service.reset();

    EXPECT_FALSE(fv_test::DbusMock::hasOwner(FV_APP_ID));
}

// A second start's hand-over, made on a thread of its own while this one serves the bus.
TEST_F(HandoffServiceLinuxTest, ASecondStartHandsOverEvenWhenTheNameIsOwnedAfterItAsked)
{
    registerHandler();
    std::atomic<bool> done{false};
    auto handOver = std::async(std::launch::async, [&] {
        const std::string error = CInstanceHandOverLinux(60s).activateRunningInstance();
        done = true;
        return error;
    });
    startService();

    ASSERT_TRUE(fv_test::runMainContextUntil([&] { return done.load(); }, 60s));
    EXPECT_EQ("", handOver.get());
    EXPECT_EQ(Events{"activate"}, target.events);
}

TEST_F(HandoffServiceLinuxTest, WithoutAnOwnerTheHandOverGivesUpWithTheReason)
{
    const std::string error = CInstanceHandOverLinux(200ms).activateRunningInstance();
    EXPECT_NE("", error);
    EXPECT_TRUE(target.events.empty());
}
