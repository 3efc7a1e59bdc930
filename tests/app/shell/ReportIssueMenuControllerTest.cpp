#include "app/shell/DataFolder.h"
#include "app/shell/ModalDialogFake.h"
#include "support/gui/MainContextWait.h"
#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"
#include "support/service/StopSignal.h"

#include "shell/FerrovanLogger.h"
#include "shell/ReportIssueMenuController.h"
#include "shell/linux/UiTaskQueueLinux.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace fv_test;
using ferrovan::CFerrovanLogger;
using ferrovan::DataKindFiles;
using ferrovan::INativeUiDataHolder;
using ferrovan::ReportIssueMenuController;

namespace {

using Journal = std::vector<std::string>;
using Files = std::list<std::string>;

class MainWindow : public INativeUiDataHolder {
public:
    void* getNativeWindow() override { return this; }
};

class FakeSender;

// What the fakes saw, on the UI thread (the test's), and how they behave.
struct Script {
    // The sender's result: at once, inside send; or from a thread of its own once released.
    bool resultAtOnce = true;
    int result = 0;
    // The progress dialog ends by itself as soon as it shows, as if the user had closed it.
    bool progressEndsEarly = false;
    std::function<void()> onProgressShown;

    Journal journal;
    std::vector<Files> sent;
    MainWindow mainWindow;
    INativeUiDataHolder* reportDialog = nullptr;
    FakeSender* sender = nullptr;

    std::string nameOf(INativeUiDataHolder* window) const
    {
        if (window == &mainWindow)
            return "main window";
        if (window != nullptr && window == reportDialog)
            return "report dialog";
        return window == nullptr ? "nothing" : "another window";
    }
};

// Answers like the library's creator: once, on a thread of its own, and waits for that thread
// when it ends.
class FakeSender : public ferrovan::IReportSender {
public:
    explicit FakeSender(Script& script) : m_script(script) { m_script.sender = this; }
    ~FakeSender() override
    {
        release();
        if (m_thread.joinable())
            m_thread.join();
        if (m_script.sender == this)
            m_script.sender = nullptr;
    }

    void send(const Files& files, const ferrovan::ReportForm& form, std::function<void(int)> onResult) override
    {
        m_script.sent.push_back(files);
        EXPECT_EQ("Ann", form.userName);
        EXPECT_EQ("ann@example.test", form.email);
        EXPECT_EQ("Uploads stop", form.summary);
        EXPECT_EQ("Every upload stops at 99%.", form.description);
        const int result = m_script.result;
        if (m_script.resultAtOnce) {
            onResult(result);
            return;
        }
        m_thread = std::thread([this, result, onResult] {
            m_release.waitFor(std::chrono::seconds(30));
            onResult(result);
            m_delivered.raise();
        });
    }

    // Any thread: lets the result go.
    void release() { m_release.raise(); }
    bool waitDelivered() { return m_delivered.waitFor(std::chrono::seconds(20)); }

private:
    Script& m_script;
    StopSignal m_release;
    StopSignal m_delivered;
    std::thread m_thread;
};

// Submit is pressed as soon as it shows.
class FakeReportDialog : public ModalDialogFake<ferrovan::IReportIssueDialog> {
public:
    FakeReportDialog(ICallback* callback, INativeUiDataHolder* parent, Script& script)
        : m_callback(callback), m_script(script)
    {
        m_script.reportDialog = this;
        EXPECT_EQ(&script.mainWindow, parent);
    }
    ~FakeReportDialog() override
    {
        if (m_script.reportDialog == this)
            m_script.reportDialog = nullptr;
    }

protected:
    bool runModal() override
    {
        m_script.journal.push_back("report shown");
        m_callback->onReportSubmitted("Ann", "ann@example.test", "Uploads stop", "Every upload stops at 99%.");
        return true;
    }

private:
    ICallback* m_callback;
    Script& m_script;
};

// Runs the UI thread's loop, as a real modal dialog does, until closed.
class FakeProgressDialog : public ferrovan::IIssueCreateProgressDialog {
public:
    FakeProgressDialog(INativeUiDataHolder* parent, Script& script) : m_parent(parent), m_script(script) {}

    void* getNativeWindow() override { return m_shown ? this : nullptr; }
    bool showModal() override
    {
        m_shown = true;
        m_script.journal.push_back("progress shown over " + m_script.nameOf(m_parent));
        if (m_script.onProgressShown)
            m_script.onProgressShown();
        if (m_script.progressEndsEarly)
            m_script.journal.push_back("progress ended early");
        else if (!runMainContextUntil([this] { return m_closed; }))
            m_script.journal.push_back("progress never closed");
        m_shown = false;
        return false;
    }
    void hide() override {}
    void close() override
    {
        if (!m_shown)
            return;
        m_closed = true;
        m_script.journal.push_back("progress closed");
    }
    void show() override {}

private:
    INativeUiDataHolder* m_parent;
    Script& m_script;
    bool m_shown = false;
    bool m_closed = false;
};

class FakeAlert : public ferrovan::IAlertDialog {
public:
    explicit FakeAlert(Script& script) : m_script(script) {}
    void show(const std::string& text, int type, INativeUiDataHolder* parent) override
    {
        m_script.journal.push_back("alert " + std::to_string(type) + " over " + m_script.nameOf(parent) + ": " + text);
    }

private:
    Script& m_script;
};

const std::string kSuccess = std::string("alert 3 over report dialog: ") + ReportIssueMenuController::kSuccessText;
const std::string kFailure = std::string("alert 2 over main window: ") + ReportIssueMenuController::kFailureText;

class ReportIssueMenuControllerTest : public ::testing::Test {
protected:
    void SetUp() override { CFerrovanLogger::setLogFilePath(m_logDir.file("fv_app.log")); }
    void TearDown() override { CFerrovanLogger::destroyInstance(); }

    std::unique_ptr<ReportIssueMenuController> controller(const ferrovan::AppGlobalObjects& globals)
    {
        ReportIssueMenuController::Parts parts;
        parts.reportDialog = [this](ferrovan::IReportIssueDialog::ICallback* callback, INativeUiDataHolder* parent) {
            return std::make_unique<FakeReportDialog>(callback, parent, m_script);
        };
        parts.progressDialog = [this](INativeUiDataHolder* parent) {
            return std::make_unique<FakeProgressDialog>(parent, m_script);
        };
        parts.alertDialog = [this] { return std::make_unique<FakeAlert>(m_script); };
        parts.sender = [this] { return std::make_unique<FakeSender>(m_script); };
        return std::make_unique<ReportIssueMenuController>(globals, &m_script.mainWindow, m_queue, std::move(parts));
    }

    TempDir m_logDir;
    DataFolder m_data;
    ferrovan::UiTaskQueueLinux m_queue;
    Script m_script;
    Watchdog m_watchdog{"report controller test", std::chrono::seconds(90)};
};

struct ResultCase {
    const char* name;
    bool resultAtOnce;
    int result;
    Journal expected;
};

// The result decides the alert and its parent; the progress dialog shows only while the result
// is still out, and the result from the sender's thread closes it on the UI thread.
TEST_F(ReportIssueMenuControllerTest, TheResultIsToldOverTheRightWindowAfterTheProgressWhenThereWasOne)
{
    const ResultCase cases[] = {
        {"success before the progress would show", true, 0, {"report shown", kSuccess}},
        {"failure before the progress would show", true, 5, {"report shown", kFailure}},
        {"success later from another thread",
         false,
         0,
         {"report shown", "progress shown over report dialog", "progress closed", kSuccess}},
        {"failure later from another thread",
         false,
         7,
         {"report shown", "progress shown over report dialog", "progress closed", kFailure}},
    };
    for (const ResultCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_script.journal.clear();
        m_script.resultAtOnce = c.resultAtOnce;
        m_script.result = c.result;
        m_script.onProgressShown = [this] { m_script.sender->release(); };
        auto reports = controller(m_data.globals);
        reports->showReportIssueDialog();
        EXPECT_EQ(c.expected, m_script.journal);
    }
}

// Once the progress dialog has ended without a result, the result is only stored: no alert,
// and never the success text, whether it comes while the controller lives or as it ends.
TEST_F(ReportIssueMenuControllerTest, AResultAfterTheProgressEndedEarlyTellsNothing)
{
    const Journal expected = {"report shown", "progress shown over report dialog", "progress ended early"};
    m_script.resultAtOnce = false;
    m_script.progressEndsEarly = true;
    {
        SCOPED_TRACE("the controller lives");
        auto reports = controller(m_data.globals);
        reports->showReportIssueDialog();
        m_script.sender->release();
        ASSERT_TRUE(m_script.sender->waitDelivered());
        runReady(nullptr);
        EXPECT_EQ(expected, m_script.journal);
    }
    for (bool deliveredBeforeTheEnd : {true, false}) {
        SCOPED_TRACE(deliveredBeforeTheEnd ? "result queued, then the controller ends"
                                           : "result as the controller ends");
        m_script.journal.clear();
        auto reports = controller(m_data.globals);
        reports->showReportIssueDialog();
        if (deliveredBeforeTheEnd) {
            m_script.sender->release();
            ASSERT_TRUE(m_script.sender->waitDelivered());
        }
        reports.reset();
        // The task the result posted runs after its controller has gone.
        runReady(nullptr);
        EXPECT_EQ(expected, m_script.journal);
    }
}

TEST_F(ReportIssueMenuControllerTest, AFailureToListTheFilesIsTheErrorAlertAndNothingIsSent)
{
    auto reports = controller(ferrovan::AppGlobalObjects());
    reports->showReportIssueDialog();
    EXPECT_EQ((Journal{"report shown", kFailure}), m_script.journal);
    EXPECT_TRUE(m_script.sent.empty());
    EXPECT_NE(std::string::npos, readFile(m_logDir.file("fv_app.log"))
                                     .find("ferrovan::ReportIssueMenuController::listReportFiles: One of the objects"));
}

TEST_F(ReportIssueMenuControllerTest, AReportTakesTheDatabaseItsLogsAndTheSettingsInThatOrder)
{
    for (const char* name : {"fv_settings.json", "fv_app.log", "fv_transfers.log", "fv_transfers_v8.db"})
        writeFile(m_data.path(name), std::string("content of ") + name);
    writeFile(m_data.path("browser.log"), "browser lines\n");

    auto reports = controller(m_data.globals);
    reports->showReportIssueDialog();
    ASSERT_EQ(1u, m_script.sent.size());
    EXPECT_EQ((Files{m_data.path("fv_transfers_v8.db"), m_data.path("browser.log"), m_data.path("fv_app.log"),
                     m_data.path("fv_transfers.log"), m_data.path("fv_settings.json")}),
              m_script.sent[0]);
}

// A file two kinds both name goes once, where its first kind puts it.
TEST(ReportIssueMenuController, AFileInSeveralKindsIsListedOnceInTheOrderOfTheKinds)
{
    std::vector<int> asked;
    const Files files = ReportIssueMenuController::reportFiles([&asked](int kind) {
        asked.push_back(kind);
        switch (kind) {
        case ferrovan::kLocalDatabase: return DataKindFiles{{"/data/shared.log", true}, {"/data/z.db", true}};
        case ferrovan::kLogsForReport: return DataKindFiles{{"/data/a.log", true}, {"/data/shared.log", true}};
        case ferrovan::kSettings: return DataKindFiles{{"/data/z.db", true}, {"/data/settings.json", true}};
        default: return DataKindFiles{{"/data/unexpected", true}};
        }
    });
    EXPECT_EQ((std::vector<int>{0, 3, 4}), asked);
    EXPECT_EQ((Files{"/data/shared.log", "/data/z.db", "/data/a.log", "/data/settings.json"}), files);
}

} // namespace
