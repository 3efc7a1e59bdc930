#include "shell/IssueCreateProgressDialog.h"

#include "app/shell/TestParentWindow.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using fv_test::GtkDriver;

const fv_test::WindowMatch kProgress{GTK_TYPE_DIALOG, "Submitting app logs..."};

// The user cannot close it while the report is on its way; only its owner ends it.
TEST(IssueCreateProgressDialogLinux, StaysThroughEscapeAndTheFrameUntilClosedByItsOwner)
{
    ASSERT_TRUE(GtkDriver::startGtk());
    fv_test::Watchdog watchdog("progress dialog");
    fv_test::TestParentWindow parent;
    const auto dialog = ferrovan::createIssueCreateProgressDialog(&parent);
    std::vector<std::string> labels;
    std::size_t bars = 0;
    GtkWindow* transientFor = nullptr;
    GtkDriver driver;
    driver
        .when(kProgress,
              [&](GtkWindow* window) {
                  labels = GtkDriver::labelTexts(GTK_WIDGET(window));
                  bars = GtkDriver::descendants(GTK_WIDGET(window), GTK_TYPE_PROGRESS_BAR).size();
                  transientFor = gtk_window_get_transient_for(window);
                  GtkDriver::sendDeleteEvent(window);
              })
        .when(kProgress, [](GtkWindow* window) { GtkDriver::pressEscape(window); })
        .when(kProgress, [&](GtkWindow*) { dialog->close(); });

    EXPECT_FALSE(dialog->showModal());

    EXPECT_TRUE(driver.allDone());
    EXPECT_NE(std::find(labels.begin(), labels.end(), "Please wait while Ferrovan uploads app logs..."), labels.end());
    EXPECT_EQ(bars, 1u);
    EXPECT_EQ(transientFor, parent.window());
    EXPECT_EQ(dialog->getNativeWindow(), nullptr);
}

} // namespace
