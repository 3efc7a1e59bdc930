#include "shell/linux/AppRuntimeLinux.h"

#include "support/fixtures/Watchdog.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include <signal.h>
#include <unistd.h>

namespace {

using ferrovan::AppRuntimeLinux;
using ferrovan::BrowserSettings;
using ferrovan::IApplicationControllerCallback;

// The application's side: closing ends the runtime's loop, as the browser host does once its
// browser is gone.
class ClosingController : public IApplicationControllerCallback {
public:
    void checkForUpdates() override {}
    void closeApplication() override
    {
        ++closeRequests;
        if (runtime != nullptr)
            runtime->quit();
    }

    AppRuntimeLinux* runtime = nullptr;
    int closeRequests = 0;
};

BrowserSettings testSettings()
{
    return ferrovan::makeBrowserSettings("/nonexistent/Ferrovan/Cache", "/nonexistent/Ferrovan/browser.log",
                                         "FerrovanTest/1.0", true);
}

// Fails the test and ends the loop if the loop is still running after the deadline.
class LoopDeadline {
public:
    explicit LoopDeadline(guint seconds) : m_source(g_timeout_add_seconds(seconds, &LoopDeadline::expire, this)) {}
    ~LoopDeadline()
    {
        if (!m_expired)
            g_source_remove(m_source);
    }
    LoopDeadline(const LoopDeadline&) = delete;
    LoopDeadline& operator=(const LoopDeadline&) = delete;

private:
    static gboolean expire(gpointer self)
    {
        static_cast<LoopDeadline*>(self)->m_expired = true;
        ADD_FAILURE() << "the message loop did not end by its deadline";
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }

    guint m_source;
    bool m_expired = false;
};

// Runs `action` once from inside the loop.
void runFromLoop(std::function<void()>& action)
{
    g_idle_add(
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        &action);
}

TEST(AppRuntimeLinux, StartsGtkUnderTheProgramsName)
{
    fv_test::Watchdog watchdog("AppRuntimeLinux start");
    ClosingController controller;
    AppRuntimeLinux runtime(controller);
    EXPECT_EQ(runtime.executeProcess(), -1);

    ASSERT_TRUE(runtime.initialize(testSettings()));
    // The desktop file's id, matched by docks through the window class.
    EXPECT_STREQ(g_get_prgname(), "org.ferrovan.Ferrovan");
    EXPECT_STREQ(gdk_get_program_class(), "org.ferrovan.Ferrovan");
    EXPECT_EQ(runtime.getSettings().userAgent, "FerrovanTest/1.0");
    runtime.shutdown();
}

struct EndCase {
    const char* name;
    bool fromInsideLoop; // else before the loop starts
    int closeRequests;   // how often the controller was asked to close
    std::function<void(AppRuntimeLinux&)> end;
};

// However the program is asked to stop, the loop returns, so the run's shutdown half still runs.
TEST(AppRuntimeLinux, MessageLoopEndsWhenAskedToStop)
{
    const EndCase cases[] = {
        {"quit from the loop", true, 0, [](AppRuntimeLinux& runtime) { runtime.quit(); }},
        {"quit before the loop", false, 0, [](AppRuntimeLinux& runtime) { runtime.quit(); }},
        {"loop quit by the browser host", true, 0, [](AppRuntimeLinux&) { AppRuntimeLinux::quitMessageLoop(); }},
        {"SIGTERM", true, 1, [](AppRuntimeLinux&) { ::kill(::getpid(), SIGTERM); }},
        {"SIGINT", true, 1, [](AppRuntimeLinux&) { ::kill(::getpid(), SIGINT); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("AppRuntimeLinux loop, ") + c.name, std::chrono::seconds(30));
        ClosingController controller;
        AppRuntimeLinux runtime(controller);
        controller.runtime = &runtime;
        ASSERT_TRUE(runtime.initialize(testSettings()));

        std::function<void()> end = [&] { c.end(runtime); };
        if (c.fromInsideLoop)
            runFromLoop(end);
        else
            end();
        {
            LoopDeadline deadline(10);
            runtime.runMessageLoop();
        }

        EXPECT_EQ(controller.closeRequests, c.closeRequests);
        runtime.shutdown();
    }
}

TEST(AppRuntimeLinux, ShutdownWithoutInitializeDoesNothing)
{
    fv_test::Watchdog watchdog("AppRuntimeLinux shutdown alone");
    ClosingController controller;
    AppRuntimeLinux runtime(controller);
    runtime.shutdown();
    runtime.quit();
    runtime.runMessageLoop(); // not started: returns at once
    runtime.shutdown();
}

// Without a display GTK cannot start; initialize says so instead of the process aborting later.
// A fresh process: GTK, once started in this one, would keep its display.
TEST(AppRuntimeLinux, InitializeFailsWithoutADisplay)
{
    fv_test::Watchdog watchdog("AppRuntimeLinux without a display", std::chrono::seconds(60));
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            ::setenv("GDK_BACKEND", "x11", 1);
            ClosingController controller;
            AppRuntimeLinux runtime(controller);
            const bool started = runtime.initialize(testSettings());
            runtime.runMessageLoop();
            runtime.shutdown();
            std::_Exit(!started ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
