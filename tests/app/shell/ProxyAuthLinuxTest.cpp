#include "shell/ProxyAuth.h"

#include "app/shell/TestParentWindow.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using fv_test::contains;
using fv_test::GtkDriver;

const fv_test::WindowMatch kPrompt{GTK_TYPE_DIALOG, "Proxy Authentication"};

struct PromptCase {
    const char* name;
    std::function<void(GtkWindow*, GtkWidget* passwordEntry)> finish;
    bool confirmed;
};

// The user types into the prompt and then ends it one way or another: only a confirmation hands
// the typed credentials back; otherwise what the caller held stays as it was.
TEST(ProxyAuthLinux, HandsBackTheTypedCredentialsOnlyWhenConfirmed)
{
    ASSERT_TRUE(GtkDriver::startGtk());
    const PromptCase cases[] = {
        {"OK", [](GtkWindow* prompt, GtkWidget*) { EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(prompt), "OK")); },
         true},
        {"Enter in the password", [](GtkWindow*, GtkWidget* password) { gtk_widget_activate(password); }, true},
        {"Cancel",
         [](GtkWindow* prompt, GtkWidget*) { EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(prompt), "Cancel")); },
         false},
        {"closed with the frame", [](GtkWindow* prompt, GtkWidget*) { GtkDriver::sendDeleteEvent(prompt); }, false},
    };
    const auto auth = ferrovan::createProxyAuth();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("proxy prompt, ") + c.name);
        fv_test::TestParentWindow parent;
        std::vector<std::string> labels;
        bool modal = false;
        GtkWindow* transientFor = nullptr;
        GtkDriver driver;
        driver.when(kPrompt, [&](GtkWindow* prompt) {
            labels = GtkDriver::labelTexts(GTK_WIDGET(prompt));
            modal = gtk_window_get_modal(prompt) != FALSE;
            transientFor = gtk_window_get_transient_for(prompt);
            // The user name is typed in the clear, the password hidden.
            std::vector<GtkWidget*> shown;
            std::vector<GtkWidget*> hidden;
            for (GtkWidget* entry : GtkDriver::descendants(GTK_WIDGET(prompt), GTK_TYPE_ENTRY))
                (gtk_entry_get_visibility(GTK_ENTRY(entry)) ? shown : hidden).push_back(entry);
            ASSERT_EQ(shown.size(), 1u);
            ASSERT_EQ(hidden.size(), 1u);
            GtkDriver::setEntryText(shown[0], "ann");
            GtkDriver::setEntryText(hidden[0], "s3cret é");
            c.finish(prompt, hidden[0]);
        });
        std::string user = "earlier user";
        std::string password = "earlier password";

        EXPECT_EQ(auth->promptCredentials(&parent, "proxy.example:3128", "Staff only", user, password), c.confirmed);

        EXPECT_TRUE(driver.allDone());
        EXPECT_EQ(user, c.confirmed ? "ann" : "earlier user");
        EXPECT_EQ(password, c.confirmed ? "s3cret é" : "earlier password");
        EXPECT_TRUE(contains(labels, "The Proxy Server requires authentication"));
        EXPECT_TRUE(contains(labels, "proxy.example:3128"));
        EXPECT_TRUE(contains(labels, "Staff only"));
        EXPECT_TRUE(modal);
        EXPECT_EQ(transientFor, parent.window());
        EXPECT_EQ(GtkDriver::findMappedWindow(kPrompt), nullptr);
    }
}

} // namespace
