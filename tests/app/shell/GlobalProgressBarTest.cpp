#include "shell/GlobalProgressBar.h"

#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/MainContextWait.h"

#include "SessionBusClient.h"

#include "AppConfig.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using ferrovan::IGlobalProgressBar;

struct Update {
    std::string entry;
    double progress = -1;
    bool visible = false;
    bool urgent = false;
};

// Listens, as a dock does, for the launcher-entry updates on the session bus.
class DockListener {
public:
    DockListener()
    {
        m_subscription =
            g_dbus_connection_signal_subscribe(m_client.get(), nullptr, "com.canonical.Unity.LauncherEntry", "Update",
                                               nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onUpdate, this, nullptr);
        m_client.sync();
    }
    ~DockListener() { g_dbus_connection_signal_unsubscribe(m_client.get(), m_subscription); }
    DockListener(const DockListener&) = delete;
    DockListener& operator=(const DockListener&) = delete;

    // All updates so far, once `count` have arrived (bounded); fewer when they never did.
    const std::vector<Update>& waitFor(std::size_t count)
    {
        fv_test::runMainContextUntil([&] { return m_updates.size() >= count; });
        return m_updates;
    }

private:
    static void onUpdate(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                         gpointer self)
    {
        Update update;
        const gchar* entry = nullptr;
        GVariant* properties = nullptr;
        g_variant_get(parameters, "(&s@a{sv})", &entry, &properties);
        update.entry = entry;
        gboolean flag = FALSE;
        g_variant_lookup(properties, "progress", "d", &update.progress);
        if (g_variant_lookup(properties, "progress-visible", "b", &flag))
            update.visible = flag;
        if (g_variant_lookup(properties, "urgent", "b", &flag))
            update.urgent = flag;
        g_variant_unref(properties);
        static_cast<DockListener*>(self)->m_updates.push_back(update);
    }

    fv_test::SessionBusClient m_client;
    guint m_subscription = 0;
    std::vector<Update> m_updates;
};

const std::string kEntry = std::string("application://") + FV_APP_ID + ".desktop";

TEST(GlobalProgressBar, EveryChangeSendsTheWholeStateToTheDock)
{
    struct Step {
        const char* call;
        std::function<void(IGlobalProgressBar&)> act;
        double progress;
        bool visible;
        bool urgent;
    };
    const std::vector<Step> steps = {
        {"setVisible(true)", [](IGlobalProgressBar& bar) { bar.setVisible(true); }, 0.0, true, false},
        {"setValue(42)", [](IGlobalProgressBar& bar) { bar.setValue(42); }, 0.42, true, false},
        {"setValue(150)", [](IGlobalProgressBar& bar) { bar.setValue(150); }, 1.0, true, false},
        {"setValue(0)", [](IGlobalProgressBar& bar) { bar.setValue(0); }, 0.0, true, false},
        {"setValue(UINT_MAX)", [](IGlobalProgressBar& bar) { bar.setValue(UINT_MAX); }, 1.0, true, false},
        {"setValue(100)", [](IGlobalProgressBar& bar) { bar.setValue(100); }, 1.0, true, false},
        {"setState(error)", [](IGlobalProgressBar& bar) { bar.setState(2); }, 1.0, true, true},
        {"setState(7)", [](IGlobalProgressBar& bar) { bar.setState(7); }, 1.0, true, false},
        {"setState(error) again", [](IGlobalProgressBar& bar) { bar.setState(2); }, 1.0, true, true},
        {"setState(pause)", [](IGlobalProgressBar& bar) { bar.setState(3); }, 1.0, true, false},
        {"setState(error) once more", [](IGlobalProgressBar& bar) { bar.setState(2); }, 1.0, true, true},
        {"setState(normal)", [](IGlobalProgressBar& bar) { bar.setState(1); }, 1.0, true, false},
        {"setValue(7)", [](IGlobalProgressBar& bar) { bar.setValue(7); }, 0.07, true, false},
        {"setVisible(false)", [](IGlobalProgressBar& bar) { bar.setVisible(false); }, 0.07, false, false},
    };
    fv_test::Watchdog watchdog("progress bar updates", std::chrono::seconds(60));
    DockListener dock;
    {
        auto bar = ferrovan::createGlobalProgressBar(nullptr);
        for (const Step& step : steps)
            step.act(*bar);
    } // hidden already: the end sends nothing more
    const std::vector<Update>& updates = dock.waitFor(steps.size());
    ASSERT_EQ(updates.size(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(steps[i].call);
        EXPECT_EQ(updates[i].entry, kEntry);
        EXPECT_DOUBLE_EQ(updates[i].progress, steps[i].progress);
        EXPECT_EQ(updates[i].visible, steps[i].visible);
        EXPECT_EQ(updates[i].urgent, steps[i].urgent);
    }
}

TEST(GlobalProgressBar, DestroyingAShownBarHidesItOnTheDock)
{
    fv_test::Watchdog watchdog("progress bar end");
    DockListener dock;
    {
        auto bar = ferrovan::createGlobalProgressBar(nullptr);
        bar->setVisible(true);
        bar->setValue(30);
    }
    const std::vector<Update>& updates = dock.waitFor(3);
    ASSERT_EQ(updates.size(), 3u);
    EXPECT_FALSE(updates.back().visible);
    EXPECT_DOUBLE_EQ(updates.back().progress, 0.3);
}

TEST(GlobalProgressBar, KeepsItsStyleThoughTheDockCannotShowIt)
{
    EXPECT_FALSE(ferrovan::isProgressBarStylingSupported());
    auto bar = ferrovan::createGlobalProgressBar(nullptr);
    const ferrovan::ProgressBarStyle& defaults = bar->getStyle();
    EXPECT_EQ(defaults.lineWidthPx, 2);
    EXPECT_TRUE(defaults.rounded);
    EXPECT_EQ(defaults.color.red, 128);
    EXPECT_EQ(defaults.color.green, 128);
    EXPECT_EQ(defaults.color.blue, 128);
    ASSERT_EQ(defaults.stateColors.size(), 3u);
    EXPECT_EQ(defaults.stateColors.at(1).blue, 255);
    EXPECT_EQ(defaults.stateColors.at(2).red, 255);
    EXPECT_EQ(defaults.stateColors.at(3).green, 255);

    ferrovan::ProgressBarStyle style;
    style.lineWidthPx = 5;
    style.rounded = false;
    style.stateColors[1] = {1, 2, 3};
    bar->setStyle(style);
    EXPECT_EQ(bar->getStyle().lineWidthPx, 5);
    EXPECT_FALSE(bar->getStyle().rounded);
    EXPECT_EQ(bar->getStyle().stateColors.at(1).green, 2);
}

// Runs in a child of its own: the session bus connection is shared process-wide, and this
// has to be the first bus call of the process.
TEST(GlobalProgressBarDeathTest, WithoutASessionBusEveryCallIsANoOp)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
            auto bar = ferrovan::createGlobalProgressBar(nullptr);
            bar->setVisible(true);
            bar->setValue(150);
            bar->setState(2);
            bar->setStyle(ferrovan::ProgressBarStyle{});
            bar.reset();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
