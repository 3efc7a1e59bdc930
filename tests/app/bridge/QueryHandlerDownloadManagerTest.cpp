#include "FakeDownloadDesktop.h"
#include "PageOnUiThread.h"
#include "bridge/IAppLifecycleEventsHandler.h"
#include "bridge/QueryHandlerDownloadManager.h"
#include "bridge/QueryHandlerRegistry.h"
#include "shell/FerrovanLogger.h"

#include "download/DownloadManagerProxy.h"
#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/Watchdog.h"
#include "transfers/download/DownloadGroupFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using ferrovan::CQueryHandlerDownloadManager;
using fv_test::QueryAnswer;
using fv_transfers::CDownloadManager;
using fv_transfers::CTransferManagerBase;

constexpr const char* kGroupFunction = "_downloadManager_groupStateChanged(";
constexpr const char* kFileFunction = "_downloadManager_fileStateChanged(";

// The download bridge over a real manager on a temp database and the test service; the test's
// thread is the UI thread and runs the posted tasks when it waits.
class DownloadBridgeTest : public fv_test::DownloadTestBase {
protected:
    DownloadBridgeTest()
    {
        ferrovan::CFerrovanLogger::setLogFilePath(m_log.file("fv_app.log"));
        fv_transfers::CTransferManagerProxyBase::Environment environment;
        environment.bucketCheckBound = std::chrono::milliseconds(1000);
        m_manager = new CDownloadManager(std::make_unique<fv_transfers::CDownloadManagerProxy>(environment));
        CTransferManagerBase::Configuration configuration = m_manager->getConfiguration();
        configuration.preventSleep = false;
        m_manager->setConfiguration(configuration);
        m_desktop.downloadsDirectory = m_dest.path();
        makeHandler();
    }
    ~DownloadBridgeTest() override
    {
        if (m_handler)
            m_handler->onAppShutdown();
        m_handler.reset();
        m_manager = nullptr;
        ferrovan::CFerrovanLogger::destroyInstance();
    }

    void makeHandler()
    {
        m_handler = std::make_unique<CQueryHandlerDownloadManager>(m_desktop.desktop());
        ferrovan::QueryHandlerContext context;
        context.browser = m_browser;
        context.downloadManager = m_manager;
        m_handler->setContext(context);
        m_router = std::make_unique<fv_test::QueryRouterStub>(*m_handler);
    }

    QueryAnswer ask(const std::string& text) { return fv_test::askOnce(*m_router, text); }
    bool runUntil(const std::function<bool()>& done) { return m_page.runUntil(done); }
    void drain() { m_page.drain(); }
    std::vector<Json::Value> calls(const std::string& prefix) const { return m_page.calls(prefix); }
    std::string appLog() const { return fv_test::readFile(m_log.file("fv_app.log")); }

    fv_test::TempDir m_log;
    fv_test::FakeDownloadDesktop m_desktop;
    fv_test::PageOnUiThread m_page;
    fvcef::CefRefPtr<fvcef::CefBrowser> m_browser = m_page.browser;
    Poco::SharedPtr<CDownloadManager> m_manager;
    std::unique_ptr<CQueryHandlerDownloadManager> m_handler;
    std::unique_ptr<fv_test::QueryRouterStub> m_router;
    fv_test::Watchdog m_watchdog{"download bridge test", std::chrono::seconds(110)};
};

TEST_F(DownloadBridgeTest, ARealGroupDownloadsIntoThePagesFolderAndTheEventsReachThePage)
{
    const std::string first = seed("F1", 300 * 1024, 1);
    const std::string second = seed("F2", 1000, 2);
    fv_test::RecordingProgress progress;
    auto* reporter = Poco::AnyCast<ferrovan::ITransferProgressReporter*>(
        m_handler->getInterface(ferrovan::kTransferProgressReporterInterface));
    reporter->setProgressCallback(&progress);
    auto* lifeCycle = Poco::AnyCast<ferrovan::IAppLifecycleEventsHandler*>(
        m_handler->getInterface(ferrovan::kAppLifecycleEventsHandlerInterface));
    lifeCycle->onAppStartup();
    lifeCycle->onAppStartup(); // a reload's second readiness starts nothing twice

    ASSERT_EQ(ask(fv_test::bridgeRequest("setConfiguration", R"({"autoDownload":false})")).code, 0);
    const QueryAnswer created = ask(
        fv_test::bridgeRequest("createGroup", R"({"bucketId":"B1","bucketType":"DOWNLOAD","token":"T1","tokenExpires":0,
                          "summary":"Q3 / report: final","downloadPath":")" +
                                                  m_dest.file("to") + "\"}"));
    ASSERT_TRUE(created.success) << created.text;
    const Json::Value reply = fv_test::parseJson(created.text);
    ASSERT_TRUE(reply["id"].isString());
    EXPECT_EQ(reply["state"]["bucketId"], "B1");
    const std::string folder = m_dest.file("to/Q3   report  final");
    ASSERT_TRUE(std::filesystem::is_directory(folder));

    const QueryAnswer queued =
        ask(fv_test::bridgeRequest("queueFiles", R"({"groupId":)" + reply["id"].asString() + R"(,"files":[
        {"id":"F1","path":"one.bin","size":307200,"modified":1600000000000},
        {"id":"F2","path":"sub/é.txt","size":1000,"modified":1600000000000}]})"));
    EXPECT_EQ(queued.text, "{}\n");

    const auto groupCompleted = [&] {
        const auto events = calls(kGroupFunction);
        return std::any_of(events.begin(), events.end(), [](const Json::Value& e) { return e["type"] == "COMPLETED"; });
    };
    ASSERT_TRUE(runUntil(groupCompleted)) << m_page.frame->scripts().size() << " scripts";
    EXPECT_TRUE(first == fv_test::readFile(folder + "/one.bin"));
    EXPECT_TRUE(second == fv_test::readFile(folder + "/sub/\xC3\xA9.txt"));

    std::vector<std::string> completedFiles;
    for (const Json::Value& event : calls(kFileFunction)) {
        EXPECT_EQ(event["id"], reply["id"]);
        if (event["type"] == "COMPLETED") {
            completedFiles.push_back(event["fileId"].asString());
            EXPECT_EQ(event["state"]["bytesTransfered"], event["state"]["bytesTotal"]);
        }
    }
    std::sort(completedFiles.begin(), completedFiles.end());
    EXPECT_EQ(completedFiles, (std::vector<std::string>{"F1", "F2"}));
    for (const Json::Value& event : calls(kGroupFunction)) {
        EXPECT_EQ(event["id"], reply["id"]);
        EXPECT_EQ(event["state"]["id"], reply["id"]);
        EXPECT_EQ(event["type"], event["state"]["type"]);
    }
    EXPECT_FALSE(progress.states.empty()) << "the dock's progress follows the group";

    // Later events of the finished group open nothing more.
    drain();
    CDownloadManager::GroupState state;
    ASSERT_EQ(m_manager->getGroupState(std::stoi(reply["id"].asString()), state), 0);
    m_handler->onGroupStateChanged(state);
    drain();
    ASSERT_EQ(m_desktop.shownFolders.size(), 1u);
    EXPECT_EQ(std::filesystem::path(m_desktop.shownFolders[0]), std::filesystem::path(folder));

    const Json::Value groups = fv_test::parseJson(ask(fv_test::bridgeRequest("fetchGroupsState")).text);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups[0]["type"], "COMPLETED");

    const std::string log = appLog();
    EXPECT_NE(log.find("token: ***"), std::string::npos);
    EXPECT_EQ(log.find("T1"), std::string::npos) << "the bucket's token never reaches the log";
}

TEST_F(DownloadBridgeTest, StartsTheManagerOncePerBrowserAndAgainAfterAShutdown)
{
    const Json::Value reply =
        fv_test::parseJson(ask(fv_test::bridgeRequest("createGroup", R"({"bucketId":"B1","autoDownload":true})")).text);
    ASSERT_TRUE(reply["id"].isString());
    const auto groupEvents = [&] { return calls(kGroupFunction).size(); };

    m_handler->onAppStartup();
    ASSERT_TRUE(runUntil([&] { return groupEvents() >= 1; }));
    const std::size_t afterFirst = groupEvents();
    m_handler->onAppStartup();
    drain();
    EXPECT_EQ(groupEvents(), afterFirst) << "no second start, no second report of every group";

    m_handler->onAppShutdown();
    m_handler->onAppStartup();
    EXPECT_TRUE(runUntil([&] { return groupEvents() > afterFirst; }));
}

TEST_F(DownloadBridgeTest, EventsFromLibraryThreadsReachThePageLaterOnTheUiThreadInTheirOrder)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 100;
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back([&, thread] {
            for (int n = 0; n < kEach; ++n) {
                CTransferManagerBase::FileState state;
                state.id = thread;
                state.fileId = std::to_string(n);
                state.bytesTransferred = n;
                m_handler->onFileStateChanged(state);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_TRUE(m_page.frame->scripts().empty()) << "nothing runs inside the library's call";

    ASSERT_TRUE(runUntil([&] { return m_page.frame->scripts().size() == kThreads * kEach; }));
    std::vector<int> next(kThreads, 0);
    for (const Json::Value& event : calls(kFileFunction)) {
        const int thread = std::stoi(event["id"].asString());
        EXPECT_EQ(event["fileId"].asString(), std::to_string(next[thread]++));
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kEach));
}

TEST_F(DownloadBridgeTest, EventsQueuedForAHandlerThatIsGoneDoNothing)
{
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread)
        threads.emplace_back([&] {
            for (int n = 0; n < 100; ++n) {
                CDownloadManager::GroupState state;
                state.state = CTransferManagerBase::GROUP_COMPLETED;
                state.percentTransferred = 100;
                m_handler->onGroupStateChanged(state);
                m_handler->onFileStateChanged(CTransferManagerBase::FileState());
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    m_handler->onAppShutdown();
    m_handler.reset();

    drain();
    EXPECT_TRUE(m_page.frame->scripts().empty());
    EXPECT_TRUE(m_desktop.shownFolders.empty());
}

// As the browser closes: the manager is shut down while its threads still report, then the
// registry lets the handler go with events of it still queued.
TEST_F(DownloadBridgeTest, ARunningGroupsLateEventsFindNoHandlerOnceTheRegistryDroppedIt)
{
    seed("F1", 8 * 1024 * 1024, 1);
    ASSERT_TRUE(ask(fv_test::bridgeRequest("setConfiguration", R"({"throttleBytesPerSecond":1048576})")).success);
    m_handler->onAppStartup();
    const Json::Value reply = fv_test::parseJson(
        ask(fv_test::bridgeRequest("createGroup", R"({"bucketId":"B1","downloadPath":")" + m_dest.path() + "\"}"))
            .text);
    ask(fv_test::bridgeRequest("queueFiles", R"({"groupId":)" + reply["id"].asString() +
                                                 R"(,"files":[{"id":"F1","path":"big.bin","size":8388608}]})"));
    ASSERT_TRUE(runUntil([&] { return calls(kFileFunction).size() >= 2; }));

    ferrovan::QueryHandlerRegistry& registry = ferrovan::QueryHandlerRegistry::getInstance();
    registry.clear();
    m_router.reset();
    CQueryHandlerDownloadManager* handler = m_handler.release();
    registry.addHandler("downloadManagerBridge_IPC", handler);
    handler->onAppShutdown();
    const std::size_t sent = m_page.frame->scripts().size();
    registry.clear();

    drain();
    EXPECT_EQ(m_page.frame->scripts().size(), sent);
    EXPECT_TRUE(m_desktop.shownFolders.empty());
}

TEST_F(DownloadBridgeTest, WithoutAMainFrameEventsAreDroppedButStillFeedTheProgress)
{
    m_browser = new fv_test::FakeBrowser(nullptr);
    makeHandler();
    fv_test::RecordingProgress progress;
    m_handler->setProgressCallback(&progress);
    CDownloadManager::GroupState state;
    state.state = CTransferManagerBase::GROUP_COMPLETED;
    state.percentTransferred = 100;
    state.downloadPath = L"/tmp";

    m_handler->onGroupStateChanged(state);
    m_handler->onFileStateChanged(CTransferManagerBase::FileState());
    drain();

    EXPECT_EQ(progress.states.size(), 1u);
    EXPECT_TRUE(m_desktop.shownFolders.empty());
}

struct FinishedCase {
    const char* name;
    std::int32_t state;
    float percent;
    bool cancelled;
    std::int32_t filesCompleted;
    const char* autoDownloadInfo; // the group's "AUTO_DOWNLOAD", or none
    bool autoOpen;
    bool shown;
};

class FinishedGroups : public DownloadBridgeTest, public ::testing::WithParamInterface<FinishedCase> {};

TEST_P(FinishedGroups, OpenTheirFolderOncePerRun)
{
    const FinishedCase& c = GetParam();
    if (!c.autoOpen) {
        ASSERT_TRUE(ask(fv_test::bridgeRequest("setConfiguration", R"({"autoOpenAfterDownload":false})")).success);
    }
    CDownloadManager::GroupState state;
    state.id = 4;
    state.bucketId = "B4";
    state.state = c.state;
    state.percentTransferred = c.percent;
    state.cancelled = c.cancelled;
    state.filesCompleted = c.filesCompleted;
    state.downloadPath = fv_transfers::utf8ToWide(m_dest.path());
    if (c.autoDownloadInfo)
        state.groupInfo = std::make_shared<CDownloadManager::GroupInfoMap>(
            CDownloadManager::GroupInfoMap{{ferrovan::kAutoDownloadGroupInfoKey, c.autoDownloadInfo}});

    for (int event = 0; event < 3; ++event)
        m_handler->onGroupStateChanged(state);
    drain();

    EXPECT_EQ(calls(kGroupFunction).size(), 3u);
    EXPECT_EQ(m_desktop.shownFolders, c.shown ? std::vector<std::string>{m_dest.path()} : std::vector<std::string>{});
    const bool held = !c.shown && c.autoDownloadInfo && std::string(c.autoDownloadInfo) != "0" && !c.autoOpen &&
                      c.state == CTransferManagerBase::GROUP_COMPLETED;
    const std::string line = "Not opening folder in explorer after download completion due to corresponding option set";
    std::size_t lines = 0;
    const std::string log = appLog();
    for (std::size_t at = 0; (at = log.find(line, at)) != std::string::npos; at += line.size())
        ++lines;
    EXPECT_EQ(lines, held ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    States, FinishedGroups,
    ::testing::Values(FinishedCase{"Completed", 3, 100, false, 2, nullptr, true, true},
                      FinishedCase{"CompletedAtZeroPercent", 3, 0, false, 2, nullptr, true, false},
                      FinishedCase{"Transferring", 1, 50, false, 1, nullptr, true, false},
                      FinishedCase{"CancelledWithoutCompletedFiles", 3, 100, true, 0, nullptr, true, false},
                      FinishedCase{"CancelledAfterACompletedFile", 2, 40, true, 1, nullptr, true, true},
                      FinishedCase{"AutomaticHeldBack", 3, 100, false, 1, "1", false, false},
                      FinishedCase{"AutomaticShownWhenAsked", 3, 100, false, 1, "1", true, true},
                      FinishedCase{"NotAutomaticShownAnyway", 3, 100, false, 1, "0", false, true},
                      FinishedCase{"NoGroupInfoShownAnyway", 3, 100, false, 1, nullptr, false, true}),
    [](const ::testing::TestParamInfo<FinishedCase>& info) { return info.param.name; });

TEST_F(DownloadBridgeTest, ARefusedSettingChangesNothing)
{
    const Json::Value before = fv_test::parseJson(ask(fv_test::bridgeRequest("getConfiguration")).text);
    EXPECT_EQ(before["autoDownload"], false);
    EXPECT_EQ(before["autoOpenAfterDownload"], true);
    EXPECT_EQ(before["autoDownloadPath"], m_dest.path() + "/Ferrovan");

    const QueryAnswer refused = ask(fv_test::bridgeRequest(
        "setConfiguration", R"({"connectionTimeoutSec":45,"autoDownload":true,"maxConcurrentTransfers":-1})"));
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(refused.text, "Exception caught when executing query handler: LargestInt out of UInt range");
    EXPECT_EQ(fv_test::parseJson(ask(fv_test::bridgeRequest("getConfiguration")).text), before);

    const Json::Value changed = fv_test::parseJson(
        ask(fv_test::bridgeRequest(
                "setConfiguration",
                R"({"connectionTimeoutSec":45,"autoDownload":"yes","autoDownloadPath":"/srv/../etc"})"))
            .text);
    EXPECT_EQ(changed["connectionTimeoutSec"], 45);
    EXPECT_EQ(m_manager->getConfiguration().connectionTimeoutMs, 45000u);
    EXPECT_EQ(changed["autoDownload"], false) << "a text is not a switch";
    EXPECT_EQ(changed["autoDownloadPath"], before["autoDownloadPath"]) << "a folder the page may not name";

    m_desktop.downloadsDirectory.clear();
    EXPECT_FALSE(fv_test::parseJson(ask(fv_test::bridgeRequest("getConfiguration")).text).isMember("autoDownloadPath"));
}

TEST_F(DownloadBridgeTest, RequestsAnswerInThePagesShapes)
{
    EXPECT_EQ(ask(fv_test::bridgeRequest("supportedMethods")).text,
              R"(["cancelGroup","createGroup","dequeueFiles","fetchGroupsState","getConfiguration","pauseGroup",)"
              R"("queueFiles","resumeGroup","setConfiguration","supportedMethods"])"
              "\n");
    EXPECT_EQ(ask(fv_test::bridgeRequest("pauseGroup", R"({"groupId":"77"})")).text, "null\n");
    EXPECT_EQ(ask(fv_test::bridgeRequest("queueFiles", R"({"groupId":77})")).text, "{}\n");
    EXPECT_EQ(ask(fv_test::bridgeRequest("dequeueFiles", R"({"groupId":77,"files":[]})")).text, "{}\n");
    const std::string badId = "Exception caught when executing query handler: Json arg is missing or has wrong "
                              "format. Func: ferrovan::CQueryHandlerDownloadManager::";
    EXPECT_EQ(ask(fv_test::bridgeRequest("cancelGroup", R"({"groupId":"x"})")).text,
              badId + "cancelGroup,  param: groupId");
    EXPECT_EQ(ask(fv_test::bridgeRequest("queueFiles", R"({"files":[{"id":"F"}]})")).text,
              badId + "queueFiles,  param: groupId");
    EXPECT_EQ(ask(fv_test::bridgeRequest("createGroup", "[1]")).text, badId + "createGroup,  param: parameters");

    // No folder from the page and the user cancels the chooser.
    EXPECT_EQ(ask(fv_test::bridgeRequest("createGroup", R"({"bucketId":"B1","downloadPath":"/srv/../etc"})")).text,
              "null\n");
    EXPECT_EQ(m_desktop.chooserTitles.size(), 1u);
    EXPECT_EQ(ask(fv_test::bridgeRequest("fetchGroupsState")).text, "[]\n");
}

TEST_F(DownloadBridgeTest, WithoutAManagerEveryRequestFails)
{
    m_handler = std::make_unique<CQueryHandlerDownloadManager>(m_desktop.desktop());
    m_router = std::make_unique<fv_test::QueryRouterStub>(*m_handler);

    for (const char* method : {"getConfiguration", "fetchGroupsState", "createGroup", "queueFiles", "pauseGroup"}) {
        const QueryAnswer answer = ask(fv_test::bridgeRequest(method, R"({"groupId":1})"));
        EXPECT_FALSE(answer.success) << method;
        EXPECT_NE(answer.text.find("Null pointer"), std::string::npos) << answer.text;
    }
    EXPECT_THROW(m_handler->onAppStartup(), Poco::NullPointerException);
}

} // namespace
