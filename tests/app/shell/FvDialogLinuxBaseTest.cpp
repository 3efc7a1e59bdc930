#include "shell/linux/FvDialogLinuxBase.h"

#include "app/shell/TestParentWindow.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using fv_test::GtkDriver;

const fv_test::WindowMatch kScripted{GTK_TYPE_DIALOG, "Scripted"};
const fv_test::WindowMatch kAlert{GTK_TYPE_MESSAGE_DIALOG, "Ferrovan"};

// A dialog of the base with OK and Cancel whose OK answers from a script, one answer per press.
class ScriptedDialog : public ferrovan::FvDialogLinuxBase {
public:
    ScriptedDialog(ferrovan::INativeUiDataHolder* parent, std::vector<std::function<bool()>> answers)
        : FvDialogLinuxBase(parent, "Scripted"), m_answers(std::move(answers))
    {
    }

    int okCalls = 0;

protected:
    void onInitDialog(GtkDialog* dialog) override
    {
        gtk_dialog_add_buttons(dialog, "_Cancel", GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    }
    bool onOk() override
    {
        const auto& answer = m_answers.at(static_cast<std::size_t>(okCalls++));
        return answer();
    }

private:
    std::vector<std::function<bool()>> m_answers;
};

void press(const char* button)
{
    GtkWindow* dialog = GtkDriver::findMappedWindow(kScripted);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(dialog), button));
}

class FvDialogLinuxBase : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(GtkDriver::startGtk()); }
};

struct EndCase {
    const char* name;
    std::function<void(ScriptedDialog&, GtkWindow*)> end;
};

// Only OK asks the dialog; every other way out ends it as not confirmed.
TEST_F(FvDialogLinuxBase, EndsWithoutAskingUnlessOkIsPressed)
{
    const EndCase cases[] = {
        {"Cancel", [](ScriptedDialog&, GtkWindow*) { press("Cancel"); }},
        {"frame's close button", [](ScriptedDialog&, GtkWindow* window) { GtkDriver::sendDeleteEvent(window); }},
        {"close()", [](ScriptedDialog& dialog, GtkWindow*) { dialog.close(); }},
        {"hidden and shown, then close()",
         [](ScriptedDialog& dialog, GtkWindow* window) {
             dialog.hide();
             EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(window)));
             dialog.show();
             EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(window)));
             dialog.close();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("dialog ended by ") + c.name);
        fv_test::TestParentWindow parent;
        ScriptedDialog dialog(&parent, {});
        void* handleWhileShown = nullptr;
        GtkWindow* transientFor = nullptr;
        GtkDriver driver;
        driver.when(kScripted, [&](GtkWindow* window) {
            handleWhileShown = dialog.getNativeWindow();
            transientFor = gtk_window_get_transient_for(window);
            c.end(dialog, window);
        });

        EXPECT_FALSE(dialog.showModal());

        EXPECT_TRUE(driver.allDone());
        EXPECT_EQ(dialog.okCalls, 0);
        EXPECT_NE(handleWhileShown, nullptr);
        EXPECT_EQ(transientFor, parent.window());
        EXPECT_EQ(dialog.getNativeWindow(), nullptr);
        // Nothing reaches a window that is gone.
        dialog.close();
        dialog.hide();
        dialog.show();
    }
}

TEST_F(FvDialogLinuxBase, RefusedOkKeepsTheDialogOpenUntilOkIsAllowed)
{
    fv_test::Watchdog watchdog("refused OK");
    ScriptedDialog dialog(nullptr, {[] { return false; }, [] { return true; }});
    GtkDriver driver;
    driver.when(kScripted, [](GtkWindow*) { press("OK"); }).when(kScripted, [](GtkWindow*) { press("OK"); });

    EXPECT_TRUE(dialog.showModal());

    EXPECT_TRUE(driver.allDone());
    EXPECT_EQ(dialog.okCalls, 2);
    EXPECT_EQ(dialog.getNativeWindow(), nullptr);
}

// A failure behind OK must not cross GTK's loop: the user is told, and the dialog stays.
TEST_F(FvDialogLinuxBase, FailureBehindOkShowsAnErrorAlertOverTheDialog)
{
    fv_test::Watchdog watchdog("OK that throws");
    ScriptedDialog dialog(nullptr, {[]() -> bool { throw std::runtime_error("listing failed"); }});
    GtkWindow* alertParent = nullptr;
    void* dialogWindow = nullptr;
    GtkMessageType alertType = GTK_MESSAGE_OTHER;
    GtkDriver driver;
    driver.when(kScripted, [](GtkWindow*) { press("OK"); })
        .when(kAlert,
              [&](GtkWindow* alert) {
                  alertParent = gtk_window_get_transient_for(alert);
                  dialogWindow = dialog.getNativeWindow();
                  g_object_get(alert, "message-type", &alertType, nullptr);
                  EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(alert), "OK"));
              })
        .when(kScripted, [](GtkWindow*) { press("Cancel"); });

    EXPECT_FALSE(dialog.showModal());

    EXPECT_TRUE(driver.allDone());
    EXPECT_EQ(dialog.okCalls, 1);
    EXPECT_EQ(alertType, GTK_MESSAGE_ERROR);
    EXPECT_NE(dialogWindow, nullptr);
    EXPECT_EQ(static_cast<void*>(alertParent), dialogWindow);
}

} // namespace
