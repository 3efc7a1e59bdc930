#include "shell/AlertDialog.h"
#include "shell/ConfirmDialog.h"

#include "app/shell/TestParentWindow.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using fv_test::GtkDriver;

// What the user saw of a message box.
struct SeenBox {
    std::string title;
    std::string text;
    GtkMessageType type = GTK_MESSAGE_QUESTION;
    bool modal = false;
    GtkWindow* transientFor = nullptr;
    std::vector<std::string> buttons;
};

SeenBox look(GtkWindow* window)
{
    SeenBox seen;
    seen.title = gtk_window_get_title(window);
    gchar* text = nullptr;
    g_object_get(window, "text", &text, "message-type", &seen.type, nullptr);
    seen.text = text != nullptr ? text : "";
    g_free(text);
    seen.modal = gtk_window_get_modal(window) != FALSE;
    seen.transientFor = gtk_window_get_transient_for(window);
    for (GtkWidget* button : GtkDriver::descendants(GTK_WIDGET(window), GTK_TYPE_BUTTON))
        if (gtk_widget_get_visible(button) && gtk_button_get_label(GTK_BUTTON(button)) != nullptr)
            seen.buttons.emplace_back(gtk_button_get_label(GTK_BUTTON(button)));
    return seen;
}

const fv_test::WindowMatch kMessageBox{GTK_TYPE_MESSAGE_DIALOG, "Ferrovan"};

class MessageBoxLinux : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(GtkDriver::startGtk()); }
};

struct ConfirmCase {
    const char* name;
    std::function<void(GtkWindow*)> answer;
    bool expected;
};

TEST_F(MessageBoxLinux, ConfirmIsTrueOnlyForYes)
{
    const ConfirmCase cases[] = {
        {"yes", [](GtkWindow* box) { EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(box), "Yes")); }, true},
        {"no", [](GtkWindow* box) { EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(box), "No")); }, false},
        {"closed with the frame", [](GtkWindow* box) { GtkDriver::sendDeleteEvent(box); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("confirm, ") + c.name);
        fv_test::TestParentWindow parent;
        const auto dialog = ferrovan::createConfirmDialog(&parent);
        SeenBox seen;
        GtkDriver driver;
        driver.when(kMessageBox, [&](GtkWindow* box) {
            seen = look(box);
            c.answer(box);
        });

        EXPECT_EQ(dialog->confirm("Clear the selected data and restart?", 1), c.expected);

        EXPECT_TRUE(driver.allDone());
        EXPECT_EQ(seen.text, "Clear the selected data and restart?");
        EXPECT_EQ(seen.type, GTK_MESSAGE_WARNING);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.transientFor, parent.window());
        EXPECT_EQ(seen.buttons, (std::vector<std::string>{"_No", "_Yes"}));
    }
}

struct AlertCase {
    int type;
    GtkMessageType shown;
};

TEST_F(MessageBoxLinux, AlertShowsTheTextWithTheIconOfItsType)
{
    const AlertCase cases[] = {
        {1, GTK_MESSAGE_WARNING}, {2, GTK_MESSAGE_ERROR}, {3, GTK_MESSAGE_INFO},
        {0, GTK_MESSAGE_OTHER},   {4, GTK_MESSAGE_OTHER}, {-1, GTK_MESSAGE_OTHER},
    };
    const auto alert = ferrovan::createAlertDialog();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        fv_test::Watchdog watchdog("alert of type " + std::to_string(c.type));
        fv_test::TestParentWindow parent;
        SeenBox seen;
        GtkDriver driver;
        driver.when(kMessageBox, [&](GtkWindow* box) {
            seen = look(box);
            EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(box), "OK"));
        });

        alert->show("Error happened while uploading the logs.", c.type, &parent);

        EXPECT_TRUE(driver.allDone());
        EXPECT_EQ(seen.text, "Error happened while uploading the logs.");
        EXPECT_EQ(seen.type, c.shown);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.transientFor, parent.window());
        EXPECT_EQ(seen.buttons, std::vector<std::string>{"_OK"});
    }
}

// The texts come from pages and the service: shown as they are, never read as a format or markup.
TEST_F(MessageBoxLinux, AlertShowsTheTextVerbatimAndStandsAloneWithoutAParent)
{
    fv_test::Watchdog watchdog("alert without a parent");
    const std::string text = "100% done: %s %n <b>bold</b> & é";
    SeenBox seen;
    std::vector<std::string> labels;
    GtkDriver driver;
    driver.when(kMessageBox, [&](GtkWindow* box) {
        seen = look(box);
        labels = GtkDriver::labelTexts(GTK_WIDGET(box));
        GtkDriver::sendDeleteEvent(box);
    });

    ferrovan::createAlertDialog()->show(text, 3, nullptr);

    EXPECT_TRUE(driver.allDone());
    EXPECT_EQ(seen.text, text);
    EXPECT_NE(std::find(labels.begin(), labels.end(), text), labels.end());
    EXPECT_EQ(seen.transientFor, nullptr);
    EXPECT_EQ(GtkDriver::findMappedWindow(kMessageBox), nullptr);
}

} // namespace
