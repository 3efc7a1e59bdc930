#include "PageOnUiThread.h"
#include "bridge/IAppLifecycleEventsHandler.h"
#include "bridge/QueryHandlerDownloadManager.h"
#include "bridge/QueryHandlerRegistration.h"
#include "bridge/QueryHandlerRegistry.h"
#include "bridge/QueryHandlerUploadManager.h"
#include "bridge/UserGrantedPaths.h"
#include "shell/FerrovanLogger.h"
#include "shell/FileUrl.h"

#include "support/fixtures/GlibTsanSuppressions.h"
#include "support/fixtures/Watchdog.h"
#include "transfers/upload/UploadManagerFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using ferrovan::CQueryHandlerUploadManager;
using fv_test::bridgeRequest;
using fv_test::QueryAnswer;
using fv_transfers::CTransferManagerBase;
using fv_transfers::CUploadManager;

constexpr const char* kGroupFunction = "_uploadManager_groupStateChanged(";
constexpr const char* kFileFunction = "_uploadManager_fileStateChanged(";
const std::string kNotChosen = "File was not chosen by the user";

// The upload bridge over a real manager on a temp database and the test service; the grants are
// the test's own and the test's thread is the UI thread.
class UploadBridgeTest : public fv_test::UploadManagerFixture {
protected:
    UploadBridgeTest()
    {
        ferrovan::CFerrovanLogger::setLogFilePath(m_log.file("fv_app.log"));
        makeManager();
        m_shared = m_manager.release();
        m_handler = std::make_unique<CQueryHandlerUploadManager>(m_grants);
        ferrovan::QueryHandlerContext context;
        context.browser = m_page.browser;
        context.uploadManager = m_shared;
        m_handler->setContext(context);
        m_router = std::make_unique<fv_test::QueryRouterStub>(*m_handler);
    }
    ~UploadBridgeTest() override
    {
        m_handler->onAppShutdown();
        m_router.reset();
        m_handler.reset();
        m_shared = nullptr;
        ferrovan::CFerrovanLogger::destroyInstance();
    }

    QueryAnswer ask(const std::string& text) { return fv_test::askOnce(*m_router, text); }
    // A local file the service expects under `uid`, and its URL as the page passes it.
    std::string fileUrl(const std::string& uid, const std::string& name, std::uint64_t size, unsigned pattern)
    {
        const std::string path = m_files.file(name);
        fv_test::writeFile(path, fv_test::patternedBytes(size, pattern));
        m_rest.addFile(kBucket, uid, size);
        std::string url;
        EXPECT_TRUE(ferrovan::pathToFileUrl(path, url)) << path;
        return url;
    }
    std::string createGroupId()
    {
        const QueryAnswer created = ask(
            bridgeRequest("createGroup", R"({"bucketId":"B1","bucketType":"UPLOAD","token":"T1","tokenExpires":0})"));
        const Json::Value reply = fv_test::parseJson(created.text);
        EXPECT_TRUE(reply["id"].isString()) << created.text;
        return reply["id"].asString();
    }
    static std::string filesJson(const std::vector<std::pair<std::string, std::string>>& files)
    {
        Json::Value list(Json::arrayValue);
        for (const auto& [uid, url] : files) {
            Json::Value file;
            file["id"] = uid;
            file["fileURL"] = url;
            list.append(file);
        }
        return fv_test::compactJson(list);
    }
    std::string appLog() const { return fv_test::readFile(m_log.file("fv_app.log")); }

    fv_test::TempDir m_log;
    ferrovan::UserGrantedPaths m_grants;
    fv_test::PageOnUiThread m_page;
    Poco::SharedPtr<CUploadManager> m_shared;
    std::unique_ptr<CQueryHandlerUploadManager> m_handler;
    std::unique_ptr<fv_test::QueryRouterStub> m_router;
    fv_test::Watchdog m_watchdog{"upload bridge test", std::chrono::seconds(110)};
};

TEST_F(UploadBridgeTest, HandedOverFilesUploadAndTheirEventsReachThePage)
{
    const std::string plain = fileUrl("S1", "plain.bin", 200 * KiB, 1);
    const std::string odd = fileUrl("S2", "\xC3\xA9 \xF0\x9D\x84\x9E #1%?.bin", 1000, 2);
    ASSERT_TRUE(m_grants.grant(m_files.path()));
    fv_test::RecordingProgress progress;
    m_handler->setProgressCallback(&progress);
    Poco::AnyCast<ferrovan::IAppLifecycleEventsHandler*>(
        m_handler->getInterface(ferrovan::kAppLifecycleEventsHandlerInterface))
        ->onAppStartup();

    const std::string id = createGroupId();
    EXPECT_EQ(ask(bridgeRequest("queueFiles", R"({"groupId":")" + id + R"(","files":)" +
                                                  filesJson({{"S1", plain}, {"S2", odd}}) + "}"))
                  .text,
              "{}\n");
    EXPECT_EQ(ask(bridgeRequest("markQueue", R"({"groupId":)" + id + "}")).text, "{}\n");

    const auto completed = [&] {
        const auto events = m_page.calls(kGroupFunction);
        return std::any_of(events.begin(), events.end(), [](const Json::Value& e) { return e["type"] == "COMPLETED"; });
    };
    ASSERT_TRUE(m_page.runUntil(completed));
    EXPECT_TRUE(stored("S1") == fv_test::readFile(m_files.file("plain.bin")));
    EXPECT_TRUE(stored("S2") == fv_test::readFile(m_files.file("\xC3\xA9 \xF0\x9D\x84\x9E #1%?.bin")));
    m_page.drain();

    std::map<std::string, int> completions;
    for (const Json::Value& event : m_page.calls(kFileFunction)) {
        EXPECT_EQ(event["id"].asString(), id);
        if (event["type"] == "COMPLETED") {
            ++completions[event["fileId"].asString()];
            EXPECT_EQ(event["state"]["bytesTransfered"], event["state"]["bytesTotal"]);
        }
    }
    EXPECT_EQ(completions, (std::map<std::string, int>{{"S1", 1}, {"S2", 1}}));
    const auto groupEvents = m_page.calls(kGroupFunction);
    EXPECT_EQ(std::count_if(groupEvents.begin(), groupEvents.end(),
                            [](const Json::Value& e) { return e["type"] == "COMPLETED"; }),
              1);
    EXPECT_EQ(groupEvents.back()["state"]["marked"], true);
    EXPECT_FALSE(progress.states.empty());
    EXPECT_EQ(appLog().find("T1"), std::string::npos) << "the bucket's token never reaches the log";
}

TEST_F(UploadBridgeTest, AFileTheUserDidNotHandOverFailsTheWholeRequest)
{
    const std::string chosen = fileUrl("S1", "chosen.bin", 100, 1);
    const std::string other = fileUrl("S2", "other.bin", 100, 2);
    ASSERT_TRUE(m_grants.grant(m_files.file("chosen.bin")));
    m_handler->onAppStartup();
    const std::string id = createGroupId();

    for (const std::string& files :
         {filesJson({{"S1", chosen}, {"S2", other}}), filesJson({{"X", "file:///etc/hostname"}}),
          filesJson({{"X", "file://" + m_files.path() + "/chosen.bin/../other.bin"}}),
          filesJson({{"X", "http://127.0.0.1/chosen.bin"}}), filesJson({{"X", ""}})}) {
        const QueryAnswer answer =
            ask(bridgeRequest("queueFiles", R"({"groupId":)" + id + R"(,"files":)" + files + "}"));
        EXPECT_FALSE(answer.success) << files;
        EXPECT_EQ(answer.code, -1);
        EXPECT_EQ(answer.text, kNotChosen) << files;
    }
    m_page.drain();
    CUploadManager::GroupState state;
    ASSERT_EQ(m_shared->getGroupState(std::stoi(id), state), 0);
    EXPECT_EQ(state.bytesTotal, 0u) << "nothing was queued";
    EXPECT_TRUE(m_page.calls(kFileFunction).empty());

    EXPECT_EQ(
        ask(bridgeRequest("queueFiles", R"({"groupId":)" + id + R"(,"files":)" + filesJson({{"S1", chosen}}) + "}"))
            .text,
        "{}\n");
    EXPECT_TRUE(m_page.runUntil([&] { return !m_page.calls(kFileFunction).empty(); }));
}

TEST_F(UploadBridgeTest, CreateGroupFailsOnlyAsANullId)
{
    for (const char* parameters : {R"({"bucketId":"B1","tokenExpires":"soon"})", "[1]", R"({"bucketId":{}})"}) {
        const QueryAnswer answer = ask(bridgeRequest("createGroup", parameters));
        EXPECT_TRUE(answer.success) << parameters;
        EXPECT_EQ(answer.text, "{\"id\":null,\"state\":null}\n") << parameters;
    }
    EXPECT_NE(appLog().find("ferrovan::CQueryHandlerUploadManager::createGroup: Exception: "), std::string::npos);
}

TEST_F(UploadBridgeTest, RequestsAnswerInThePagesShapes)
{
    EXPECT_EQ(ask(bridgeRequest("supportedMethods")).text,
              R"(["cancelGroup","createGroup","dequeueFiles","fetchGroupsState","getConfiguration","markQueue",)"
              R"("pauseGroup","queueFiles","resumeGroup","setConfiguration","supportedMethods","unmarkQueue"])"
              "\n");
    for (const char* method : {"pauseGroup", "resumeGroup", "cancelGroup", "markQueue", "unmarkQueue"})
        EXPECT_EQ(ask(bridgeRequest(method, R"({"groupId":"77"})")).text, "{}\n") << method;
    EXPECT_EQ(ask(bridgeRequest("queueFiles", R"({"groupId":77,"files":[]})")).text, "{}\n");
    EXPECT_EQ(ask(bridgeRequest("dequeueFiles", R"({"groupId":77})")).text, "{}\n");
    EXPECT_EQ(ask(bridgeRequest("pauseGroup", R"({"groupId":5.9})")).text,
              "Exception caught when executing query handler: Json arg is missing or has wrong format. Func: "
              "ferrovan::CQueryHandlerUploadManager::pauseGroup,  param: groupId");

    const Json::Value changed = fv_test::parseJson(
        ask(bridgeRequest("setConfiguration", R"({"serverTransferProgressInterval":700,"recvTimeoutSec":20})")).text);
    EXPECT_EQ(changed["serverTransferProgressInterval"], 700);
    EXPECT_EQ(changed["recvTimeoutSec"], 20);
    const QueryAnswer refused = ask(bridgeRequest("setConfiguration", R"({"recvTimeoutSec":4294968})"));
    EXPECT_FALSE(refused.success);
    EXPECT_EQ(m_shared->getConfiguration().receiveTimeoutMs, 20000u);
    EXPECT_EQ(fv_test::parseJson(ask(bridgeRequest("getConfiguration")).text), changed);
}

TEST(TransferBridgeRegistration, EachUnderItsBridgeName)
{
    fv_test::TempDir log;
    ferrovan::CFerrovanLogger::setLogFilePath(log.file("fv_app.log"));
    ferrovan::QueryHandlerRegistry& registry = ferrovan::QueryHandlerRegistry::getInstance();
    registry.clear();
    ferrovan::registerQueryHandlers(true);

    const auto handlerOf = [&](const std::string& name) -> const ferrovan::CQueryHandlerBase* {
        const auto entry =
            std::find_if(registry.begin(), registry.end(), [&](const auto& named) { return named.first == name; });
        return entry == registry.end() ? nullptr : entry->second.get();
    };
    EXPECT_NE(dynamic_cast<const CQueryHandlerUploadManager*>(handlerOf("uploadManagerBridge_IPC")), nullptr);
    EXPECT_NE(dynamic_cast<const ferrovan::CQueryHandlerDownloadManager*>(handlerOf("downloadManagerBridge_IPC")),
              nullptr);
    registry.clear();
    ferrovan::CFerrovanLogger::destroyInstance();
}

} // namespace
