#include "shell/ReportIssueDialog.h"

#include "app/shell/TestParentWindow.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <vector>

namespace {

using fv_test::GtkDriver;

const fv_test::WindowMatch kReport{GTK_TYPE_DIALOG, "Submit app logs"};

using Report = std::array<std::string, 4>; // user name, e-mail, summary, description

class RecordingCallback : public ferrovan::IReportIssueDialog::ICallback {
public:
    void onReportSubmitted(const std::string& userName, const std::string& email, const std::string& summary,
                           const std::string& description) override
    {
        reports.push_back({userName, email, summary, description});
        windowDuringCall = dialog != nullptr ? dialog->getNativeWindow() : nullptr;
    }

    ferrovan::IReportIssueDialog* dialog = nullptr;
    std::vector<Report> reports;
    void* windowDuringCall = nullptr;
};

// The report's four fields as the user reaches them.
struct Fields {
    std::vector<GtkWidget*> entries; // user name, e-mail, summary, in that order on screen
    GtkTextBuffer* description = nullptr;
    GtkWidget* submit = nullptr;
};

Fields fieldsOf(GtkWindow* dialog)
{
    Fields fields;
    fields.entries = GtkDriver::descendants(GTK_WIDGET(dialog), GTK_TYPE_ENTRY);
    std::sort(fields.entries.begin(), fields.entries.end(), [](GtkWidget* a, GtkWidget* b) {
        GtkAllocation first;
        GtkAllocation second;
        gtk_widget_get_allocation(a, &first);
        gtk_widget_get_allocation(b, &second);
        return first.y < second.y;
    });
    const auto views = GtkDriver::descendants(GTK_WIDGET(dialog), GTK_TYPE_TEXT_VIEW);
    if (views.size() == 1)
        fields.description = gtk_text_view_get_buffer(GTK_TEXT_VIEW(views[0]));
    for (GtkWidget* button : GtkDriver::descendants(GTK_WIDGET(dialog), GTK_TYPE_BUTTON))
        if (gtk_button_get_label(GTK_BUTTON(button)) != nullptr &&
            std::string(gtk_button_get_label(GTK_BUTTON(button))) == "_Submit")
            fields.submit = button;
    return fields;
}

void fill(const Fields& fields, int field, const std::string& text)
{
    if (field < 3)
        GtkDriver::setEntryText(fields.entries.at(static_cast<std::size_t>(field)), text);
    else
        gtk_text_buffer_set_text(fields.description, text.c_str(), static_cast<gint>(text.size()));
}

// Longer than any fixed buffer would hold, over several lines, not ASCII.
std::string longDescription()
{
    std::string text;
    for (int line = 0; text.size() < 5000; ++line)
        text += "Line " + std::to_string(line) + ": the upload stops at 42 % — ünïcödé\n";
    return text;
}

class ReportIssueDialogLinux : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(GtkDriver::startGtk()); }
};

TEST_F(ReportIssueDialogLinux, SubmitIsOfferedOnlyOnceAllFourFieldsHoldText)
{
    const Report typed = {"Ann Example", "ann@example.com", "Uploads stop", longDescription()};
    const std::vector<std::vector<int>> orders = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 3, 0, 2}};
    for (const auto& order : orders) {
        SCOPED_TRACE(::testing::PrintToString(order));
        fv_test::Watchdog watchdog("report dialog, fields filled one by one");
        fv_test::TestParentWindow parent;
        RecordingCallback callback;
        const auto dialog = ferrovan::createReportIssueDialog(&callback, &parent);
        callback.dialog = dialog.get();
        std::vector<bool> sensitivity; // at the start, then after each field
        std::vector<std::string> labels;
        GtkWindow* transientFor = nullptr;
        GtkDriver driver;
        driver.when(kReport, [&](GtkWindow* window) {
            labels = GtkDriver::labelTexts(GTK_WIDGET(window));
            transientFor = gtk_window_get_transient_for(window);
            const Fields fields = fieldsOf(window);
            ASSERT_EQ(fields.entries.size(), 3u);
            ASSERT_NE(fields.description, nullptr);
            ASSERT_NE(fields.submit, nullptr);
            sensitivity.push_back(gtk_widget_get_sensitive(fields.submit));
            for (int field : order) {
                fill(fields, field, typed[static_cast<std::size_t>(field)]);
                sensitivity.push_back(gtk_widget_get_sensitive(fields.submit));
            }
            // Emptying a field takes the offer back.
            fill(fields, order[1], "");
            sensitivity.push_back(gtk_widget_get_sensitive(fields.submit));
            fill(fields, order[1], typed[static_cast<std::size_t>(order[1])]);
            EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(window), "Submit"));
        });

        EXPECT_TRUE(dialog->showModal());

        EXPECT_TRUE(driver.allDone());
        EXPECT_EQ(sensitivity, (std::vector<bool>{false, false, false, false, true, false}));
        ASSERT_EQ(callback.reports.size(), 1u);
        EXPECT_EQ(callback.reports[0], typed);
        // Called while the dialog still stands, so an alert can be shown over it.
        EXPECT_NE(callback.windowDuringCall, nullptr);
        EXPECT_EQ(dialog->getNativeWindow(), nullptr);
        EXPECT_EQ(transientFor, parent.window());
        for (const char* text :
             {"Please provide detailed description of the problem to help Ferrovan team diagnose the issue",
              "User name", "E-mail", "Summary", "Description"})
            EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end()) << text;
    }
}

TEST_F(ReportIssueDialogLinux, CancelEscapeOrCloseNeverSubmits)
{
    for (const auto& c : GtkDriver::dismissals()) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("report dialog, ") + c.name);
        RecordingCallback callback;
        const auto dialog = ferrovan::createReportIssueDialog(&callback, nullptr);
        GtkDriver driver;
        driver.when(kReport, [&](GtkWindow* window) {
            const Fields fields = fieldsOf(window);
            for (int field = 0; field < 4; ++field)
                fill(fields, field, "text");
            c.dismiss(window);
        });

        EXPECT_FALSE(dialog->showModal());

        EXPECT_TRUE(driver.allDone());
        EXPECT_TRUE(callback.reports.empty());
    }
}

// Submit's sensitivity is not the only way to answer a dialog: an incomplete report is never sent.
TEST_F(ReportIssueDialogLinux, IncompleteReportIsNotSubmittedEvenWhenOkArrives)
{
    fv_test::Watchdog watchdog("report dialog, incomplete OK");
    RecordingCallback callback;
    const auto dialog = ferrovan::createReportIssueDialog(&callback, nullptr);
    GtkDriver driver;
    driver
        .when(kReport,
              [](GtkWindow* window) {
                  fill(fieldsOf(window), 0, "Ann");
                  GtkDriver::respond(window, GTK_RESPONSE_OK);
              })
        .when(kReport, [](GtkWindow* window) { GtkDriver::respond(window, GTK_RESPONSE_CANCEL); });

    EXPECT_FALSE(dialog->showModal());

    EXPECT_TRUE(driver.allDone());
    EXPECT_TRUE(callback.reports.empty());
}

} // namespace
