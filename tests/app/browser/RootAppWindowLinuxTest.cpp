#include "app/browser/RecordingClient.h"
#include "app/browser/RecordingMenuCallback.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"
#include "support/gui/MainContextWait.h"
#include "support/service/TestService.h"

#include "AppConfig.h"
#include "browser/RootAppWindow.h"
#include "browser/WindowEventCatcher.h"
#include "browser/WindowPlacementSaver.h"
#include "browser/host/linux/CefUiThreadLinux.h"
#include "shell/AppSettings.h"
#include "shell/BrowserSettings.h"
#include "shell/FerrovanLogger.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <Poco/File.h>

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
// After gtest: X11's macros take names gtest uses.
#include <gdk/gdkx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

using namespace fv_test;
using ferrovan::AppSettings;
using ferrovan::IWindowEventCatcher;
using ferrovan::RootAppWindow;
using ferrovan::ScreenRect;
using ferrovan::WindowPlacementSaver;

namespace {

constexpr std::chrono::seconds kDeadline{30};

struct Frame {
    int x, y, width, height;

    bool operator==(const Frame& other) const
    {
        return x == other.x && y == other.y && width == other.width && height == other.height;
    }
};

std::ostream& operator<<(std::ostream& out, const Frame& f)
{
    return out << "{" << f.x << ", " << f.y << ", " << f.width << ", " << f.height << "}";
}

Frame frameOf(GtkWindow* window)
{
    Frame frame{};
    gtk_window_get_position(window, &frame.x, &frame.y);
    gtk_window_get_size(window, &frame.width, &frame.height);
    return frame;
}

// What a window manager does to a window, done the way one does it, since the tests' display has
// none: the state goes into the window's _NET_WM_STATE, and iconifying unmaps the window.
class WindowManagerStandIn {
public:
    explicit WindowManagerStandIn(GtkWindow* window)
        : m_display(GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(GTK_WIDGET(window)))),
          m_window(GDK_WINDOW_XID(gtk_widget_get_window(GTK_WIDGET(window))))
    {
    }

    void setMaximized(bool maximized)
    {
        const Atom state = XInternAtom(m_display, "_NET_WM_STATE", False);
        if (maximized) {
            const Atom values[] = {XInternAtom(m_display, "_NET_WM_STATE_MAXIMIZED_VERT", False),
                                   XInternAtom(m_display, "_NET_WM_STATE_MAXIMIZED_HORZ", False)};
            XChangeProperty(m_display, m_window, state, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(values), 2);
        } else {
            XDeleteProperty(m_display, m_window, state);
        }
        XFlush(m_display);
    }

    void iconify()
    {
        XUnmapWindow(m_display, m_window);
        XFlush(m_display);
    }

    void restore()
    {
        XMapWindow(m_display, m_window);
        XFlush(m_display);
    }

private:
    Display* m_display;
    ::Window m_window;
};

// Keeps what a catcher reports, in order.
class RecordingWindowEvents : public IWindowEventCatcher::IEventHanlder {
public:
    void onWindowResized(int width, int height, bool maximized) override
    {
        events.push_back("size " + std::to_string(width) + "x" + std::to_string(height) +
                         (maximized ? " maximized" : ""));
    }
    void onWindowMoved(int top, int left) override
    {
        events.push_back("move " + std::to_string(left) + "," + std::to_string(top));
    }

    bool saw(const std::string& event) const
    {
        for (const std::string& seen : events)
            if (seen == event)
                return true;
        return false;
    }

    std::vector<std::string> events;
};

// The main window over a real web context and the test service's page, with its placement in a
// real settings file.
class RootAppWindowLinuxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GtkDriver::startGtk());
        ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
    }

    void TearDown() override
    {
        for (auto& window : m_windows)
            window->close();
        runMainContextUntil([&] { return m_client->closed == m_client->created; }, kDeadline);
        m_windows.clear();
        runReady(nullptr);
        ferrovan::CFerrovanLogger::destroyInstance();
    }

    ferrovan::RootWindowConfig config(const AppSettings& settings)
    {
        ferrovan::RootWindowConfig config;
        config.bounds = {settings.getLeft(), settings.getTop(), settings.getWidth(), settings.getHeight()};
        config.maximized = settings.isMaximized();
        config.menuCallback = &m_menuCallback;
        config.browserSettings =
            ferrovan::makeBrowserSettings(m_dir.file("cache"), m_dir.file("browser.log"), "FerrovanTest/1.0", true);
        config.bridgeNames = {"nativeAppBridge_IPC"};
        config.webAppUrl = m_service.url("/app");
        config.resourcesDirectory = m_dir.path();
        config.extensionsDirectory = FV_WEB_EXTENSIONS_BUILD_DIR;
        return config;
    }

    // A window with its view loaded, shown, and placed where it was asked to be.
    RootAppWindow& openWindow(const AppSettings& settings)
    {
        fvcef::CefRefPtr<RootAppWindow> window = ferrovan::createRootAppWindow(config(settings));
        if (!window)
            throw std::runtime_error("no window");
        m_windows.push_back(window);
        const std::size_t loads = m_client->loadEnds.size();
        EXPECT_TRUE(window->addBrowserView(m_client, m_service.url("/app")));
        EXPECT_TRUE(runMainContextUntil([&] { return m_client->loadEnds.size() > loads; }, kDeadline));
        window->activate();
        EXPECT_TRUE(
            runMainContextUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(gtkWindow(*window))); }, kDeadline));
        return *window;
    }

    static GtkWindow* gtkWindow(RootAppWindow& window) { return static_cast<GtkWindow*>(window.getNativeWindow()); }

    std::string settingsPath() const { return m_dir.file("fv_settings.json"); }

    void writeSettings(const std::string& window) { writeFile(settingsPath(), R"({"window": )" + window + "}"); }

    TempDir m_dir;
    TestService m_service;
    ferrovan::UiTaskQueueLinux m_queue;
    ferrovan::CefUiThreadLinux m_uiThread{m_queue};
    RecordingMenuCallback m_menuCallback;
    fvcef::CefRefPtr<RecordingClient> m_client{new RecordingClient};
    std::vector<fvcef::CefRefPtr<RootAppWindow>> m_windows;
    Watchdog m_watchdog{"main window test", std::chrono::seconds(110)};
};

// Once the display has answered everything asked of it so far, its events are handled.
void settle(GtkWindow* window)
{
    XSync(GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(GTK_WIDGET(window))), False);
    runReady(nullptr);
    runReady(nullptr);
}

// The child's place in its box, or -1 when it is not in one.
int placeInBox(GtkWidget* child)
{
    GtkWidget* box = gtk_widget_get_parent(child);
    if (!GTK_IS_BOX(box))
        return -1;
    int position = -1;
    gtk_container_child_get(GTK_CONTAINER(box), child, "position", &position, nullptr);
    return position;
}

TEST_F(RootAppWindowLinuxTest, StaysHiddenUntilActivatedThenShowsTheMenuBarOverTheView)
{
    writeSettings(R"({"top": 40, "left": 30, "width": 700, "height": 500, "maximized": false})");
    fvcef::CefRefPtr<RootAppWindow> window = ferrovan::createRootAppWindow(config(AppSettings(settingsPath())));
    ASSERT_TRUE(window);
    m_windows.push_back(window);
    ASSERT_TRUE(window->addBrowserView(m_client, m_service.url("/app")));
    EXPECT_FALSE(window->addBrowserView(m_client, m_service.url("/app"))) << "one view per window";
    ASSERT_TRUE(runMainContextUntil([&] { return !m_client->loadEnds.empty(); }, kDeadline));
    GtkWindow* native = gtkWindow(*window);
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(native)));
    window->bringToFront();
    EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(native))) << "bringing forward does not show it";

    window->activate();
    ASSERT_TRUE(runMainContextUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(native)); }, kDeadline));
    EXPECT_STREQ("Ferrovan", gtk_window_get_title(native));
    EXPECT_STREQ(FV_APP_ID, gtk_window_get_icon_name(native));

    const std::vector<GtkWidget*> bars = GtkDriver::descendants(GTK_WIDGET(native), GTK_TYPE_MENU_BAR);
    const std::vector<GtkWidget*> views = GtkDriver::descendants(GTK_WIDGET(native), WEBKIT_TYPE_WEB_VIEW);
    ASSERT_EQ(1u, bars.size());
    ASSERT_EQ(1u, views.size());
    EXPECT_EQ(0, placeInBox(bars[0]));
    EXPECT_EQ(1, placeInBox(views[0]));
    EXPECT_EQ(gtk_widget_get_parent(bars[0]), gtk_widget_get_parent(views[0]));
    // The view takes whatever height the bar leaves.
    ASSERT_TRUE(runMainContextUntil(
        [&] {
            GtkAllocation bar, view;
            gtk_widget_get_allocation(bars[0], &bar);
            gtk_widget_get_allocation(views[0], &view);
            return bar.height > 1 && view.y == bar.y + bar.height && view.height == 500 - bar.height &&
                   view.width == 700;
        },
        kDeadline));
    EXPECT_EQ((Frame{30, 40, 700, 500}), frameOf(native));
    window->bringToFront();
    EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(native)));
}

TEST_F(RootAppWindowLinuxTest, ClosingAsksTheClientThenEndsTheBrowserOnce)
{
    RootAppWindow& window = openWindow(AppSettings(settingsPath()));
    window.close();
    ASSERT_TRUE(runMainContextUntil([&] { return m_client->closed == 1; }, kDeadline));
    EXPECT_EQ(1, m_client->closeAsked);
    EXPECT_EQ(nullptr, window.getNativeWindow());
    // What is left of a closed window does nothing.
    window.close();
    window.activate();
    window.bringToFront();
    EXPECT_FALSE(window.addBrowserView(m_client, m_service.url("/app")));
    runReady(nullptr);
    EXPECT_EQ(1, m_client->closed);
}

TEST_F(RootAppWindowLinuxTest, AWindowMaximisedWhenSavedOpensMaximised)
{
    writeSettings(R"({"top": 40, "left": 30, "width": 700, "height": 500, "maximized": true})");
    RootAppWindow& window = openWindow(AppSettings(settingsPath()));
    EXPECT_TRUE(runMainContextUntil([&] { return gtk_window_is_maximized(gtkWindow(window)); }, kDeadline));
}

// The catcher feeds the saver; the next start places the window where the last one was left.
TEST_F(RootAppWindowLinuxTest, TheSavedPlacementComesBackExactly)
{
    writeSettings(R"({"top": 40, "left": 30, "width": 700, "height": 500, "maximized": false})");
    Poco::SharedPtr<AppSettings> settings = new AppSettings(settingsPath());
    int scheduled = 0;
    std::vector<std::function<void()>> due;
    {
        RootAppWindow& window = openWindow(*settings);
        WindowPlacementSaver saver(settings, [&](unsigned, std::function<void()> task) {
            ++scheduled;
            due.push_back(std::move(task));
        });
        const auto catcher = ferrovan::createWindowEventCatcher(window.getNativeWindow());
        catcher->setEventHandler(&saver);
        GtkWindow* native = gtkWindow(window);
        // A drag of the frame: many moves, each seen, before the delay passes.
        for (int step = 1; step <= 10; ++step) {
            gtk_window_move(native, 100 + step, 60 + step);
            ASSERT_TRUE(runMainContextUntil([&] { return frameOf(native).x == 100 + step; }, kDeadline));
        }
        gtk_window_resize(native, 640, 480);
        ASSERT_TRUE(runMainContextUntil([&] { return frameOf(native) == Frame{110, 70, 640, 480}; }, kDeadline));
        settle(native);
        EXPECT_EQ(1, scheduled) << "one write for the whole drag";
        Poco::File(settingsPath()).remove();

        window.close();
        ASSERT_TRUE(runMainContextUntil([&] { return m_client->closed == 1; }, kDeadline));
        saver.flush();
    }
    const AppSettings saved(settingsPath());
    EXPECT_EQ(70, saved.getTop());
    EXPECT_EQ(110, saved.getLeft());
    EXPECT_EQ(640, saved.getWidth());
    EXPECT_EQ(480, saved.getHeight());
    EXPECT_FALSE(saved.isMaximized());
    for (const auto& task : due)
        task();

    RootAppWindow& again = openWindow(saved);
    EXPECT_EQ((Frame{110, 70, 640, 480}), frameOf(gtkWindow(again)));
}

struct CatcherCase {
    const char* name;
    std::function<void(GtkWindow*, WindowManagerStandIn&)> act;
    // What the catcher reports last; empty: nothing at all.
    std::vector<std::string> expectedLast;
};

TEST_F(RootAppWindowLinuxTest, TheCatcherReportsTheFrameTheRestoreTakes)
{
    writeSettings(R"({"top": 40, "left": 30, "width": 700, "height": 500, "maximized": false})");
    RootAppWindow& window = openWindow(AppSettings(settingsPath()));
    GtkWindow* native = gtkWindow(window);
    WindowManagerStandIn manager(native);
    const CatcherCase cases[] = {
        {"a move", [](GtkWindow* w, WindowManagerStandIn&) { gtk_window_move(w, 200, 150); }, {"move 200,150"}},
        {"a resize",
         [](GtkWindow* w, WindowManagerStandIn&) { gtk_window_resize(w, 520, 410); },
         {"size 520x410", "move 200,150"}},
        {"maximised", [](GtkWindow*, WindowManagerStandIn& m) { m.setMaximized(true); }, {"size 520x410 maximized"}},
        {"restored", [](GtkWindow*, WindowManagerStandIn& m) { m.setMaximized(false); }, {"size 520x410"}},
        {"moved while iconified",
         [](GtkWindow* w, WindowManagerStandIn& m) {
             m.iconify();
             runMainContextUntil(
                 [&] {
                     return gdk_window_get_state(gtk_widget_get_window(GTK_WIDGET(w))) & GDK_WINDOW_STATE_ICONIFIED;
                 },
                 kDeadline);
             gtk_window_move(w, 260, 190);
         },
         {}},
    };
    for (const CatcherCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingWindowEvents events;
        const auto catcher = ferrovan::createWindowEventCatcher(native);
        catcher->setEventHandler(&events);
        c.act(native, manager);
        if (c.expectedLast.empty()) {
            settle(native);
            EXPECT_TRUE(events.events.empty()) << events.events.front();
            continue;
        }
        ASSERT_TRUE(runMainContextUntil(
            [&] {
                for (const std::string& event : c.expectedLast)
                    if (!events.saw(event))
                        return false;
                return true;
            },
            kDeadline))
            << (events.events.empty() ? "nothing reported" : events.events.back());
    }
    manager.restore();
}

// While maximised the normal frame stays what it was; closing saves the last one at once.
TEST_F(RootAppWindowLinuxTest, AMaximisedFrameNeverReplacesTheNormalOne)
{
    writeSettings(R"({"top": 40, "left": 30, "width": 700, "height": 500, "maximized": false})");
    Poco::SharedPtr<AppSettings> settings = new AppSettings(settingsPath());
    RootAppWindow& window = openWindow(*settings);
    GtkWindow* native = gtkWindow(window);
    WindowPlacementSaver saver(settings, [](unsigned, std::function<void()>) {});
    RecordingWindowEvents events;
    const auto catcher = ferrovan::createWindowEventCatcher(native);
    catcher->setEventHandler(&saver);
    const auto watcher = ferrovan::createWindowEventCatcher(native);
    watcher->setEventHandler(&events);
    WindowManagerStandIn manager(native);

    manager.setMaximized(true);
    ASSERT_TRUE(runMainContextUntil([&] { return events.saw("size 700x500 maximized"); }, kDeadline));
    gtk_window_move(native, 0, 0);
    gtk_window_resize(native, 900, 700);
    ASSERT_TRUE(runMainContextUntil([&] { return events.saw("size 900x700 maximized"); }, kDeadline));
    saver.flush();
    AppSettings saved(settingsPath());
    EXPECT_EQ((Frame{30, 40, 700, 500}), (Frame{saved.getLeft(), saved.getTop(), saved.getWidth(), saved.getHeight()}));
    EXPECT_TRUE(saved.isMaximized());

    manager.setMaximized(false);
    gtk_window_resize(native, 650, 450);
    ASSERT_TRUE(runMainContextUntil([&] { return events.saw("size 650x450"); }, kDeadline));
    saver.flush();
    saved = AppSettings(settingsPath());
    EXPECT_EQ((Frame{0, 0, 650, 450}), (Frame{saved.getLeft(), saved.getTop(), saved.getWidth(), saved.getHeight()}));
    EXPECT_FALSE(saved.isMaximized());
}

TEST(RootAppWindowLinux, TheDisplaysWorkAreasAreKnown)
{
    ASSERT_TRUE(GtkDriver::startGtk());
    const std::vector<ScreenRect> areas = ferrovan::getDisplayWorkAreas();
    ASSERT_FALSE(areas.empty());
    // No window manager reserves anything on the tests' display.
    GdkRectangle whole;
    gdk_monitor_get_geometry(gdk_display_get_monitor(gdk_display_get_default(), 0), &whole);
    EXPECT_EQ((ScreenRect{whole.x, whole.y, whole.width, whole.height}), areas.front());
}

} // namespace
