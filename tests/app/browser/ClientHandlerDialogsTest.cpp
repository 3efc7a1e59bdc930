#include "app/shell/FixedBundleInfo.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/gui/GtkDriver.h"

#include "browser/FvCefHandler.h"
#include "shell/AppEnvironment.h"
#include "shell/AppSettings.h"
#include "shell/FerrovanLogger.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

using fv_test::GtkDriver;

namespace {

const fv_test::WindowMatch kPrompt{GTK_TYPE_DIALOG, "Proxy Authentication"};
const fv_test::WindowMatch kMessageBox{GTK_TYPE_MESSAGE_DIALOG, "Ferrovan"};

class RecordingAuthCallback : public fvcef::CefRefCounted<fvcef::CefAuthCallback> {
public:
    void Continue(const fvcef::CefString& username, const fvcef::CefString& password) override
    {
        answers.push_back(username.ToString() + ":" + password.ToString());
    }
    void Cancel() override { answers.push_back("cancel"); }
    std::vector<std::string> answers;
};

class RecordingDialogCallback : public fvcef::CefRefCounted<fvcef::CefJSDialogCallback> {
public:
    void Continue(bool success, const fvcef::CefString&) override { answers.push_back(success); }
    std::vector<bool> answers;
};

class ClientHandlerDialogsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(GtkDriver::startGtk());
        ferrovan::CFerrovanLogger::setLogFilePath(m_dir.file("fv_app.log"));
    }
    void TearDown() override { ferrovan::CFerrovanLogger::destroyInstance(); }

    fv_test::TempDir m_dir;
    fvcef::CefRefPtr<FvCefHandler> m_handler{
        new FvCefHandler(new ferrovan::AppEnvironment(new fv_test::FixedBundleInfo(), "/nonexistent/bin/Ferrovan", {}),
                         new ferrovan::AppSettings(m_dir.file("fv_settings.json")), nullptr)};
    fv_test::Watchdog m_watchdog{"client handler dialogs", std::chrono::seconds(110)};
};

// What the user types answers one challenge of its realm; the proxy asking again right after
// (the pair was refused) asks the user again; a cancelled prompt cancels the request, so the load
// ends instead of waiting for ever; a server's own challenge is refused without a prompt.
TEST_F(ClientHandlerDialogsTest, ProxyCredentialsAreAskedForAndReusedOnce)
{
    struct Step {
        const char* name;
        bool proxy;
        const char* realm;
        const char* prompted; // "user:password" typed and confirmed, "cancel", or null: no prompt
        bool taken;
        const char* answer; // what the request got; null: nothing (the browser cancels it)
    };
    const Step steps[] = {
        {"first challenge", true, "Staff", "ann:pw1", true, "ann:pw1"},
        {"same realm again", true, "Staff", nullptr, true, "ann:pw1"},
        {"same realm once more", true, "Staff", "cancel", true, "cancel"},
        {"another realm", true, "Lab", "bob:pw2", true, "bob:pw2"},
        {"the saved pair for that realm", true, "Lab", nullptr, true, "bob:pw2"},
        {"a server's challenge", false, "Lab", nullptr, false, nullptr},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        GtkDriver driver;
        bool prompted = false;
        if (step.prompted != nullptr) {
            const std::string typed = step.prompted;
            driver.when(kPrompt, [&prompted, typed](GtkWindow* prompt) {
                prompted = true;
                if (typed == "cancel") {
                    EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(prompt), "Cancel"));
                    return;
                }
                // The user name is typed in the clear, the password hidden.
                for (GtkWidget* entry : GtkDriver::descendants(GTK_WIDGET(prompt), GTK_TYPE_ENTRY))
                    GtkDriver::setEntryText(entry, gtk_entry_get_visibility(GTK_ENTRY(entry))
                                                       ? typed.substr(0, typed.find(':'))
                                                       : typed.substr(typed.find(':') + 1));
                EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(prompt), "OK"));
            });
        }
        fvcef::CefRefPtr<RecordingAuthCallback> callback(new RecordingAuthCallback);
        EXPECT_EQ(step.taken, m_handler->GetAuthCredentials(nullptr, step.proxy, "proxy.test", 3128, step.realm,
                                                            "basic", callback));
        EXPECT_EQ(step.prompted != nullptr, prompted);
        EXPECT_TRUE(driver.allDone());
        EXPECT_EQ(step.answer != nullptr ? std::vector<std::string>{step.answer} : std::vector<std::string>{},
                  callback->answers);
    }
    EXPECT_EQ(std::string::npos, fv_test::readFile(m_dir.file("fv_app.log")).find("pw1"));
}

// The page's alert is one message box and the page goes on; its confirm is true for Yes only.
TEST_F(ClientHandlerDialogsTest, AlertsAndConfirmsAreNativeMessageBoxes)
{
    struct Case {
        const char* name;
        fvcef::cef_jsdialog_type_t type;
        const char* button;
        bool answer;
    };
    const Case cases[] = {
        {"alert", fvcef::JSDIALOGTYPE_ALERT, "OK", true},
        {"confirm, Yes", fvcef::JSDIALOGTYPE_CONFIRM, "Yes", true},
        {"confirm, No", fvcef::JSDIALOGTYPE_CONFIRM, "No", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GtkDriver driver;
        std::vector<std::string> labels;
        const std::string button = c.button;
        driver.when(kMessageBox, [&labels, button](GtkWindow* box) {
            labels = GtkDriver::labelTexts(GTK_WIDGET(box));
            EXPECT_TRUE(GtkDriver::clickButton(GTK_WIDGET(box), button));
        });
        fvcef::CefRefPtr<RecordingDialogCallback> callback(new RecordingDialogCallback);
        EXPECT_TRUE(m_handler->OnJSDialog(nullptr, "http://127.0.0.1/app", c.type, "Keep going?", callback));
        EXPECT_TRUE(driver.allDone());
        EXPECT_TRUE(fv_test::contains(labels, "Keep going?"));
        EXPECT_EQ(std::vector<bool>{c.answer}, callback->answers);
    }
    fvcef::CefRefPtr<RecordingDialogCallback> prompt(new RecordingDialogCallback);
    EXPECT_FALSE(m_handler->OnJSDialog(nullptr, "http://127.0.0.1/app", fvcef::JSDIALOGTYPE_PROMPT, "x", prompt));
}

} // namespace
