#include "app/shell/DataFolder.h"
#include "app/shell/FixedBundleInfo.h"
#include "app/shell/LogFileTestSupport.h"
#include "app/shell/ModalDialogFake.h"
#include "support/fixtures/TestEnvironment.h"
#include "support/fixtures/Watchdog.h"

#include "browser/ApplicationMenuController.h"
#include "browser/WebAppNavigator.h"
#include "shell/AppExitFlags.h"
#include "shell/ApplicationControllerCallback.h"
#include "shell/FerrovanLogger.h"

#include "core/log/FvTransfersLogger.h"

#include <Poco/Any.h>
#include <Poco/Logger.h>
#include <Poco/Process.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace fv_test;
using ferrovan::AppExitFlags;
using ferrovan::ApplicationMenuController;
using ferrovan::CFerrovanLogger;
using ferrovan::IClearAppDataWindow;
using ferrovan::INativeUiDataHolder;

namespace {

using Journal = std::vector<std::string>;
using Arguments = std::vector<std::string>;

class MainWindow : public INativeUiDataHolder {
public:
    void* getNativeWindow() override { return this; }
};

// What the fakes saw, in order, and how they answer.
struct Script {
    Journal journal;
    MainWindow mainWindow;
    INativeUiDataHolder* clearDataWindow = nullptr;
    // The clear-data window's OKs, one per try, until the controller lets it close.
    std::vector<int> choices;
    std::vector<bool> confirmAnswers;
    // Run inside the clear-data window's modal loop, before its choices.
    std::function<void()> whileClearDataShown;

    std::string nameOf(INativeUiDataHolder* window) const
    {
        if (window == &mainWindow)
            return "main window";
        if (window != nullptr && window == clearDataWindow)
            return "clear-data window";
        return window == nullptr ? "nothing" : "another window";
    }
};

class FakeClearDataWindow : public ModalDialogFake<IClearAppDataWindow> {
public:
    FakeClearDataWindow(ICallback* callback, INativeUiDataHolder* parent, Script& script)
        : m_callback(callback), m_script(script)
    {
        m_script.journal.push_back("clear-data window over " + script.nameOf(parent));
    }

protected:
    bool runModal() override
    {
        m_script.clearDataWindow = this;
        if (m_script.whileClearDataShown)
            m_script.whileClearDataShown();
        bool closes = false;
        for (std::size_t i = 0; i < m_script.choices.size() && !closes; ++i) {
            closes = m_callback->onClearAppData(m_script.choices[i]);
            m_script.journal.push_back("chose " + std::to_string(m_script.choices[i]) +
                                       (closes ? ", window closes" : ", window stays"));
        }
        m_script.clearDataWindow = nullptr;
        return closes;
    }

private:
    ICallback* m_callback;
    Script& m_script;
};

class FakeConfirm : public ferrovan::IConfirmDialog {
public:
    FakeConfirm(INativeUiDataHolder* parent, Script& script) : m_parent(parent), m_script(script) {}
    bool confirm(const std::string& text, int type) override
    {
        if (m_script.confirmAnswers.empty()) {
            ADD_FAILURE() << "an unexpected confirmation";
            return false;
        }
        const bool yes = m_script.confirmAnswers.front();
        m_script.confirmAnswers.erase(m_script.confirmAnswers.begin());
        EXPECT_EQ(ApplicationMenuController::kClearWebDataQuestion, text);
        EXPECT_EQ(1, type);
        m_script.journal.push_back("confirm over " + m_script.nameOf(m_parent) + (yes ? ": yes" : ": no"));
        return yes;
    }

private:
    INativeUiDataHolder* m_parent;
    Script& m_script;
};

class FakeExplorer : public ferrovan::IOsFileExplorer {
public:
    explicit FakeExplorer(Script& script) : m_script(script) {}
    bool showInFolder(const std::string& path) override
    {
        m_script.journal.push_back("show in folder " + path);
        return true;
    }
    bool open(const std::string& url) override
    {
        m_script.journal.push_back("open " + url);
        return true;
    }

private:
    Script& m_script;
};

class FakeAbout : public ModalDialogFake<ferrovan::IAboutDialog> {
public:
    FakeAbout(INativeUiDataHolder* parent, const std::string& resources, const std::string& version, Script& script)
        : m_script(script)
    {
        m_script.journal.push_back("about over " + script.nameOf(parent) + ": " + resources + ", " + version);
    }

protected:
    bool runModal() override
    {
        m_script.journal.push_back("about shown");
        return true;
    }

private:
    Script& m_script;
};

// Shown and closed at once, as if the user cancelled the report.
class FakeReportDialog : public ModalDialogFake<ferrovan::IReportIssueDialog> {
public:
    FakeReportDialog(INativeUiDataHolder* parent, Script& script)
    {
        script.journal.push_back("report dialog over " + script.nameOf(parent));
    }

protected:
    bool runModal() override { return false; }
};

class RecordingApplication : public ferrovan::IApplicationControllerCallback {
public:
    explicit RecordingApplication(Script& script) : m_script(script) {}
    void checkForUpdates() override { m_script.journal.push_back("check for updates"); }
    void closeApplication() override { m_script.journal.push_back("close application"); }

private:
    Script& m_script;
};

class RecordingNavigator : public ferrovan::IWebAppNavigator {
public:
    explicit RecordingNavigator(Script& script) : m_script(script) {}
    void navigateToNewMessage() override { m_script.journal.push_back("navigate to new message"); }
    void navigateToNewShare() override { m_script.journal.push_back("navigate to new share"); }

private:
    Script& m_script;
};

class ApplicationMenuControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CFerrovanLogger::setLogFilePath(m_logDir.file("fv_app.log"));
        fv_transfers::setLogFolder(m_logDir.path());
        m_data.globals.environment = new ferrovan::AppEnvironment(new FixedBundleInfo, "/nonexistent/Ferrovan", {});
        m_controller = std::make_unique<ApplicationMenuController>(m_exitFlags, m_data.globals, parts());
        m_controller->setApplication(&m_application);
        m_controller->setNativeUiHolder(&m_script.mainWindow);
        m_controller->setWebAppLookup([this] { return &m_navigator; });
    }
    void TearDown() override
    {
        m_controller.reset();
        CFerrovanLogger::destroyInstance();
        fv_transfers::CFvTransfersLogger::destroyInstance();
        fv_transfers::setLogFolder("");
    }

    ApplicationMenuController::Parts parts()
    {
        ApplicationMenuController::Parts parts;
        parts.clearDataWindow = [this](IClearAppDataWindow::ICallback* callback, INativeUiDataHolder* parent) {
            return std::make_unique<FakeClearDataWindow>(callback, parent, m_script);
        };
        parts.confirmDialog = [this](INativeUiDataHolder* parent) {
            return std::make_unique<FakeConfirm>(parent, m_script);
        };
        parts.fileExplorer = [this] { return std::make_unique<FakeExplorer>(m_script); };
        parts.aboutDialog = [this](INativeUiDataHolder* parent, const std::string& resources,
                                   const std::string& version) {
            return std::make_unique<FakeAbout>(parent, resources, version, m_script);
        };
        parts.reportIssue.reportDialog = [this](ferrovan::IReportIssueDialog::ICallback*, INativeUiDataHolder* parent) {
            return std::make_unique<FakeReportDialog>(parent, m_script);
        };
        return parts;
    }

    // The restart arguments queued, one list per flag; a flag that is no restart fails.
    std::vector<Arguments> queuedRestarts()
    {
        std::vector<Arguments> restarts;
        while (m_exitFlags->peekFlag() != AppExitFlags::kNone) {
            const auto flag = m_exitFlags->popFlagWithPayload();
            EXPECT_EQ(AppExitFlags::kRestart, flag.first);
            restarts.push_back(Poco::AnyCast<Arguments>(flag.second));
        }
        return restarts;
    }

    std::string logText() const { return readFile(m_logDir.file("fv_app.log")); }

    static std::string pid() { return std::to_string(Poco::Process::id()); }

    TempDir m_logDir;
    DataFolder m_data;
    Script m_script;
    RecordingApplication m_application{m_script};
    RecordingNavigator m_navigator{m_script};
    Poco::SharedPtr<AppExitFlags> m_exitFlags = new AppExitFlags();
    std::unique_ptr<ApplicationMenuController> m_controller;
    Watchdog m_watchdog{"menu controller test", std::chrono::seconds(90)};
};

struct KindCase {
    const char* name;
    int kind;
    Journal expected;
};

TEST_F(ApplicationMenuControllerTest, EachKindReachesItsOneActionAndAnUnknownKindNone)
{
    const std::string dataFolder = m_data.globals.environment->getAppDataDirectory();
    const std::string resources = m_data.globals.environment->getResourcesDirectory();
    const KindCase cases[] = {
        {"exit", 0, {"close application"}},
        {"send files", 1, {"navigate to new message"}},
        {"share files", 2, {"navigate to new share"}},
        {"check for updates", 3, {"check for updates"}},
        {"clear app data, nothing chosen", 4, {"clear-data window over main window"}},
        {"open logs", 5, {"show in folder " + dataFolder}},
        {"submit app logs", 7, {"report dialog over main window"}},
        {"about", 8, {"about over main window: " + resources + ", 4.0.0", "about shown"}},
        {"below the kinds", -1, {}},
        {"above the kinds", 9, {}},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_script.journal.clear();
        m_controller->onMenuItem(c.kind, Poco::Any());
        EXPECT_EQ(c.expected, m_script.journal);
    }
    EXPECT_TRUE(queuedRestarts().empty());
}

struct ClearCase {
    const char* name;
    std::vector<int> choices;
    std::vector<bool> confirmAnswers;
    Journal expected;
    std::vector<Arguments> restarts;
};

TEST_F(ApplicationMenuControllerTest, ChosenDataIsClearedByARestartAndWebDataOnlyOnceConfirmed)
{
    const ClearCase cases[] = {
        {"logs and settings, no question",
         {4 | 8},
         {},
         {"clear-data window over main window", "close application", "chose 12, window closes"},
         {{"--reset-logs", "--reset-settings", "--wait-for-pid", pid()}}},
        {"web data, no",
         {2},
         {false},
         {"clear-data window over main window", "confirm over clear-data window: no", "chose 2, window stays"},
         {}},
        {"web data, yes",
         {2},
         {true},
         {"clear-data window over main window", "confirm over clear-data window: yes", "close application",
          "chose 2, window closes"},
         {{"--reset-web-cache", "--wait-for-pid", pid()}}},
        {"web data refused, then logs alone",
         {2 | 4, 4},
         {false},
         {"clear-data window over main window", "confirm over clear-data window: no", "chose 6, window stays",
          "close application", "chose 4, window closes"},
         {{"--reset-logs", "--wait-for-pid", pid()}}},
        {"everything, in the order of the bits",
         {15},
         {true},
         {"clear-data window over main window", "confirm over clear-data window: yes", "close application",
          "chose 15, window closes"},
         {{"--reset-local-db", "--reset-web-cache", "--reset-logs", "--reset-settings", "--wait-for-pid", pid()}}},
        {"nothing chosen", {0}, {}, {"clear-data window over main window", "chose 0, window closes"}, {}},
    };
    for (const ClearCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_script.journal.clear();
        m_script.choices = c.choices;
        m_script.confirmAnswers = c.confirmAnswers;
        m_controller->onMenuItem(ferrovan::kClearAppDataItem, Poco::Any());
        EXPECT_EQ(c.expected, m_script.journal);
        EXPECT_EQ(c.restarts, queuedRestarts());
    }
}

// The menu cannot replace the window while the window's own loop runs in it.
TEST_F(ApplicationMenuControllerTest, ClearAppDataWhileItsWindowIsShownOpensNoSecondWindow)
{
    m_script.choices = {4};
    m_script.whileClearDataShown = [this] {
        m_script.whileClearDataShown = nullptr;
        m_controller->onMenuItem(ferrovan::kClearAppDataItem, Poco::Any());
    };
    m_controller->onMenuItem(ferrovan::kClearAppDataItem, Poco::Any());
    EXPECT_EQ((Journal{"clear-data window over main window", "close application", "chose 4, window closes"}),
              m_script.journal);
    EXPECT_EQ((std::vector<Arguments>{{"--reset-logs", "--wait-for-pid", pid()}}), queuedRestarts());
}

TEST_F(ApplicationMenuControllerTest, VerboseLoggingSwitchesTheProgramsAndTheLibrarysLogBothWays)
{
    ASSERT_NE(nullptr, fv_transfers::CFvTransfersLogger::getInstance());
    Poco::Logger& program = Poco::Logger::get("FerrovanLogger");
    Poco::Logger& library = Poco::Logger::get(fv_transfers::CFvTransfersLogger::kLoggerName);

    m_controller->onMenuItem(ferrovan::kVerboseLoggingItem, Poco::Any(true));
    EXPECT_EQ(Poco::Message::PRIO_TRACE, program.getLevel());
    EXPECT_EQ(Poco::Message::PRIO_TRACE, library.getLevel());

    m_controller->onMenuItem(ferrovan::kVerboseLoggingItem, Poco::Any(false));
    EXPECT_EQ(Poco::Message::PRIO_INFORMATION, program.getLevel());
    EXPECT_EQ(Poco::Message::PRIO_INFORMATION, library.getLevel());

    const std::string log = logText();
    const auto enabled = log.find("ferrovan::ApplicationMenuController::onMenuItem: Verbose logging enabled");
    const auto disabled = log.find("ferrovan::ApplicationMenuController::onMenuItem: Verbose logging disabled");
    ASSERT_NE(std::string::npos, enabled);
    ASSERT_NE(std::string::npos, disabled);
    EXPECT_LT(enabled, disabled);
}

TEST_F(ApplicationMenuControllerTest, AFailingCommandIsLoggedAndTheNextStillRuns)
{
    m_controller->onMenuItem(ferrovan::kVerboseLoggingItem, Poco::Any(std::string("yes")));
    m_controller->onMenuItem(ferrovan::kVerboseLoggingItem, Poco::Any());
    m_controller->onMenuItem(ferrovan::kExitItem, Poco::Any());
    EXPECT_EQ((Journal{"close application"}), m_script.journal);
    const std::string log = logText();
    int failures = 0;
    for (const std::string& line : linesOf(log))
        if (line.find("ferrovan::ApplicationMenuController::onMenuItem: Exception caughts when handling main menu "
                      "item: ") != std::string::npos &&
            line.find("Failed to convert between Any types") != std::string::npos)
            ++failures;
    EXPECT_EQ(2, failures) << log;
    EXPECT_EQ(std::string::npos, log.find("Verbose logging"));
}

TEST_F(ApplicationMenuControllerTest, WithoutABrowserHostOrApplicationTheirItemsDoNothing)
{
    ApplicationMenuController bare(m_exitFlags, m_data.globals, parts());
    for (int kind :
         {ferrovan::kExitItem, ferrovan::kSendFilesItem, ferrovan::kShareFilesItem, ferrovan::kCheckForUpdatesItem})
        bare.onMenuItem(kind, Poco::Any());
    bare.setWebAppLookup([]() -> ferrovan::IWebAppNavigator* { return nullptr; });
    bare.onMenuItem(ferrovan::kSendFilesItem, Poco::Any());
    EXPECT_TRUE(m_script.journal.empty());
    EXPECT_NE(std::string::npos,
              logText().find("ferrovan::ApplicationMenuController::onMenuItem: No web application to navigate"));
}

} // namespace
