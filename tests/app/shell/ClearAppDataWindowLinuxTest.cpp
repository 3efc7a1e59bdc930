#include "shell/ClearAppDataWindow.h"

#include "app/shell/TestParentWindow.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using fv_test::GtkDriver;

const fv_test::WindowMatch kClearData{GTK_TYPE_DIALOG, "Clear App Data And Restart"};

const char* const kBoxTexts[] = {
    " Local Transfers Database",
    " Web data and Cache (Cookies, Cache and Local storage data)",
    " Log files",
    " Local Settings (window size and position, auto update settings)",
};

// Answers from a script, one answer per call, and records the bits.
class ScriptedCallback : public ferrovan::IClearAppDataWindow::ICallback {
public:
    explicit ScriptedCallback(std::vector<bool> answers) : m_answers(std::move(answers)) {}
    bool onClearAppData(int dataBits) override
    {
        calls.push_back(dataBits);
        return m_answers.at(calls.size() - 1);
    }

    std::vector<int> calls;

private:
    std::vector<bool> m_answers;
};

GtkWidget* box(GtkWindow* dialog, const std::string& text)
{
    for (GtkWidget* check : GtkDriver::descendants(GTK_WIDGET(dialog), GTK_TYPE_CHECK_BUTTON)) {
        const char* label = gtk_button_get_label(GTK_BUTTON(check));
        if (label != nullptr && text == label)
            return check;
    }
    ADD_FAILURE() << "no box \"" << text << "\"";
    return nullptr;
}

// Checks exactly the boxes given by their index, then presses OK.
void checkAndPressOk(GtkWindow* dialog, std::set<int> checked)
{
    for (int i = 0; i < 4; ++i)
        if (GtkWidget* check = box(dialog, kBoxTexts[i]))
            GtkDriver::setToggle(check, checked.count(i) > 0);
    EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(dialog), "OK"));
}

class ClearAppDataWindowLinux : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(GtkDriver::startGtk()); }
};

struct ChoiceCase {
    const char* name;
    std::set<int> checked;
    int bits;
};

TEST_F(ClearAppDataWindowLinux, OkPassesTheBitsOfTheCheckedBoxes)
{
    const ChoiceCase cases[] = {
        {"none", {}, 0},      {"all", {0, 1, 2, 3}, 15}, {"database and logs", {0, 2}, 5},
        {"web data", {1}, 2}, {"settings", {3}, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("clear data, ") + c.name);
        fv_test::TestParentWindow parent;
        ScriptedCallback callback({true});
        const auto dialog = ferrovan::createClearAppDataWindow(&callback, &parent);
        std::vector<std::string> labels;
        GtkWindow* transientFor = nullptr;
        GtkDriver driver;
        driver.when(kClearData, [&](GtkWindow* window) {
            labels = GtkDriver::labelTexts(GTK_WIDGET(window));
            transientFor = gtk_window_get_transient_for(window);
            checkAndPressOk(window, c.checked);
        });

        EXPECT_TRUE(dialog->showModal());

        EXPECT_TRUE(driver.allDone());
        EXPECT_EQ(callback.calls, std::vector<int>{c.bits});
        EXPECT_EQ(transientFor, parent.window());
        EXPECT_NE(std::find(labels.begin(), labels.end(), "Please select type of data to clear:"), labels.end());
        EXPECT_EQ(dialog->getNativeWindow(), nullptr);
    }
}

// The user declined the confirmation: the dialog stays, and the next OK reads the boxes anew.
TEST_F(ClearAppDataWindowLinux, DeclinedChoiceKeepsTheDialogAndTheNextOkReadsTheBoxesAgain)
{
    fv_test::Watchdog watchdog("clear data, declined");
    ScriptedCallback callback({false, true});
    const auto dialog = ferrovan::createClearAppDataWindow(&callback, nullptr);
    GtkDriver driver;
    driver.when(kClearData,
                [](GtkWindow* window) {
                    checkAndPressOk(window, {0, 2});
                })
        .when(kClearData, [](GtkWindow* window) { checkAndPressOk(window, {0}); });

    EXPECT_TRUE(dialog->showModal());

    EXPECT_TRUE(driver.allDone());
    EXPECT_EQ(callback.calls, (std::vector<int>{5, 1}));
}

TEST_F(ClearAppDataWindowLinux, CancelEscapeOrCloseNeverCallsBack)
{
    for (const auto& c : GtkDriver::dismissals()) {
        SCOPED_TRACE(c.name);
        fv_test::Watchdog watchdog(std::string("clear data, ") + c.name);
        ScriptedCallback callback({});
        const auto dialog = ferrovan::createClearAppDataWindow(&callback, nullptr);
        GtkDriver driver;
        driver.when(kClearData, [&](GtkWindow* window) {
            GtkDriver::setToggle(box(window, kBoxTexts[0]), true);
            c.dismiss(window);
        });

        EXPECT_FALSE(dialog->showModal());

        EXPECT_TRUE(driver.allDone());
        EXPECT_TRUE(callback.calls.empty());
        EXPECT_EQ(GtkDriver::findMappedWindow(kClearData), nullptr);
    }
}

} // namespace
