#include "shell/ReportIssueMenuController.h"

#include "app/shell/DataFolder.h"
#include "app/shell/TestParentWindow.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/TransportTest.h"
#include "support/fixtures/Watchdog.h"
#include "support/fixtures/ZipEntries.h"
#include "support/gui/GtkDriver.h"
#include "support/service/FakeHelpDesk.h"
#include "support/service/FaultPlan.h"
#include "support/service/StopSignal.h"
#include "support/service/TestService.h"

#include "shell/FerrovanLogger.h"
#include "shell/HelpDeskReportSender.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace fv_test;
using ferrovan::ReportIssueMenuController;

namespace {

const WindowMatch kReport{GTK_TYPE_DIALOG, "Submit app logs"};
const WindowMatch kProgress{GTK_TYPE_DIALOG, "Submitting app logs..."};
const WindowMatch kAlert{GTK_TYPE_MESSAGE_DIALOG, "Ferrovan"};

// What an alert showed.
struct Alert {
    std::string text;
    GtkMessageType type = GTK_MESSAGE_OTHER;
    GtkWindow* over = nullptr;
};

Alert alertOf(GtkWindow* window)
{
    Alert alert;
    gchar* text = nullptr;
    g_object_get(window, "text", &text, "message-type", &alert.type, nullptr);
    alert.text = text != nullptr ? text : "";
    g_free(text);
    alert.over = gtk_window_get_transient_for(window);
    return alert;
}

// The whole road with the real dialogs, the real report creator and the project's help desk
// fake; the user's part is played by the GTK driver.
class ReportIssueMenuControllerLinux : public ::testing::Test {
protected:
    // Before the fixture's main window is made.
    static void SetUpTestSuite() { ASSERT_TRUE(GtkDriver::startGtk()); }

    void SetUp() override
    {
        prepareTransportTest();
        ferrovan::CFerrovanLogger::setLogFilePath(m_logDir.file("fv_app.log"));
        for (const char* name : {"fv_transfers_v8.db", "fv_app.log", "fv_settings.json"})
            writeFile(m_data.path(name), std::string("content of ") + name);
    }
    void TearDown() override { ferrovan::CFerrovanLogger::destroyInstance(); }

    std::unique_ptr<ReportIssueMenuController> controller()
    {
        ReportIssueMenuController::Parts parts;
        const std::string url = m_helpDesk.baseUrl();
        parts.sender = [url] { return std::make_unique<ferrovan::HelpDeskReportSender>(url); };
        return std::make_unique<ReportIssueMenuController>(m_data.globals, &m_mainWindow, m_queue, std::move(parts));
    }

    // Fills the four fields one by one, noting after each whether Submit is offered, then submits.
    GtkDriver::Action fillAndSubmit(std::vector<bool>& offered, GtkWindow*& reportWindow)
    {
        return [&offered, &reportWindow](GtkWindow* window) {
            reportWindow = window;
            std::vector<GtkWidget*> entries = GtkDriver::descendants(GTK_WIDGET(window), GTK_TYPE_ENTRY);
            const std::vector<GtkWidget*> views = GtkDriver::descendants(GTK_WIDGET(window), GTK_TYPE_TEXT_VIEW);
            ASSERT_EQ(3u, entries.size());
            ASSERT_EQ(1u, views.size());
            const auto submitOffered = [window] {
                for (GtkWidget* button : GtkDriver::descendants(GTK_WIDGET(window), GTK_TYPE_BUTTON)) {
                    const char* label = gtk_button_get_label(GTK_BUTTON(button));
                    if (label != nullptr && std::string(label) == "_Submit")
                        return gtk_widget_get_sensitive(button) == TRUE;
                }
                return false;
            };
            offered.push_back(submitOffered());
            for (GtkWidget* entry : entries) {
                GtkDriver::setEntryText(entry, "Ann");
                offered.push_back(submitOffered());
            }
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0])), "Uploads stop.", -1);
            offered.push_back(submitOffered());
            EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(window), "Submit"));
        };
    }

    TempDir m_logDir;
    DataFolder m_data;
    TestService m_helpDesk;
    FakeHelpDesk m_fake{m_helpDesk};
    ferrovan::UiTaskQueueLinux m_queue;
    TestParentWindow m_mainWindow;
};

// The user may not close the progress while the upload is held; once it goes through, the
// success is told over the report dialog, and the help desk got every file once.
TEST_F(ReportIssueMenuControllerLinux, ASuccessfulReportIsToldOverTheReportDialogAfterTheProgress)
{
    Watchdog watchdog("report road", std::chrono::seconds(100));
    // The upload is held on the connection's thread until released.
    StopSignal uploadArrived;
    StopSignal release;
    m_fake.onUpload([&](const FakeHelpDesk::Upload&) {
        uploadArrived.raise();
        release.waitFor(std::chrono::seconds(60));
    });
    auto reports = controller();
    std::vector<bool> offered;
    GtkWindow* reportWindow = nullptr;
    bool heldWhileClosed = false;
    bool alertBeforeRelease = true;
    Alert alert;
    GtkDriver driver;
    driver.when(kReport, fillAndSubmit(offered, reportWindow))
        .when(kProgress,
              [&](GtkWindow* window) {
                  heldWhileClosed = uploadArrived.waitFor(std::chrono::seconds(20));
                  GtkDriver::sendDeleteEvent(window);
              })
        .when(kProgress,
              [&](GtkWindow*) {
                  alertBeforeRelease = GtkDriver::findMappedWindow(kAlert) != nullptr;
                  release.raise();
              })
        .when(kAlert, [&](GtkWindow* window) {
            alert = alertOf(window);
            GtkDriver::respond(window, GTK_RESPONSE_OK);
        });

    reports->showReportIssueDialog();
    release.raise(); // a failed step must not leave the report held

    EXPECT_TRUE(driver.allDone());
    EXPECT_EQ((std::vector<bool>{false, false, false, false, true}), offered);
    EXPECT_TRUE(heldWhileClosed);
    EXPECT_FALSE(alertBeforeRelease);
    EXPECT_EQ(ReportIssueMenuController::kSuccessText, alert.text);
    EXPECT_EQ(GTK_MESSAGE_INFO, alert.type);
    EXPECT_EQ(reportWindow, alert.over);
    EXPECT_EQ(nullptr, GtkDriver::findMappedWindow(kReport));

    const std::vector<FakeHelpDesk::Upload> uploads = m_fake.uploads();
    ASSERT_EQ(1u, uploads.size());
    const std::map<std::string, std::string> expected = {
        {"fv_transfers_v8.db", "content of fv_transfers_v8.db"},
        {"fv_app.log", "content of fv_app.log"},
        {"fv_settings.json", "content of fv_settings.json"},
    };
    EXPECT_EQ(expected, unzip(uploads[0].body));
}

TEST_F(ReportIssueMenuControllerLinux, AFailingHelpDeskIsToldOverTheMainWindowAndNeverAsSuccess)
{
    Watchdog watchdog("failing report road", std::chrono::seconds(100));
    m_helpDesk.faults().add({"POST", "/api/v2/requests.json", 1, 0, Fault::statusCode(500)});
    auto reports = controller();
    std::vector<bool> offered;
    GtkWindow* reportWindow = nullptr;
    std::vector<Alert> alerts;
    GtkDriver driver;
    driver.when(kReport, fillAndSubmit(offered, reportWindow)).when(kAlert, [&](GtkWindow* window) {
        alerts.push_back(alertOf(window));
        GtkDriver::respond(window, GTK_RESPONSE_OK);
    });

    reports->showReportIssueDialog();

    EXPECT_TRUE(driver.allDone());
    ASSERT_EQ(1u, alerts.size());
    EXPECT_EQ(ReportIssueMenuController::kFailureText, alerts[0].text);
    EXPECT_EQ(GTK_MESSAGE_ERROR, alerts[0].type);
    EXPECT_EQ(m_mainWindow.window(), alerts[0].over);
    EXPECT_EQ(nullptr, GtkDriver::findMappedWindow(kAlert));
}

} // namespace
